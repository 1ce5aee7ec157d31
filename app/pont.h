#pragma once
// The page bridge's rules, without the web view: what a page message asks for and how a
// notice is written into the page's script.
#include <functional>
#include <optional>
#include <string>

namespace vimba {

// A page message that passed validation: a string "action", and "code" when it was a string.
struct MessagePage {
    std::string action;
    std::optional<std::string> code;
};

// What each action does; the window fills these in.
struct ActionsPage {
    std::function<void()> fermer;
    std::function<void(const std::string&)> ouvrir;
    std::function<void()> refermer;
    std::function<void()> activer;
    std::function<void()> autoriser;
    std::function<void()> direLesAutorisations;
};

// Applies the action table; unknown actions do nothing.
void agir(const MessagePage& m, const ActionsPage& a);

// The script that calls the page's repondre with a kind and a text, both as JSON strings so
// that every character reaches the page as it was.
std::string scriptReponse(const std::string& sorte, const std::string& texte);

std::string texteAutorisations(bool voitEcran, bool peutAgir);

}  // namespace vimba
