#pragma once
// A helper program run to its end within a delay, on a main context of its own so that
// nothing else of the agent runs meanwhile; one still running at the delay is killed.
#include <chrono>
#include <optional>
#include <string>

namespace vimba {

// Runs argv (searched in PATH) with `entree`, when given, on its standard input. Its standard
// output (empty unless `lireSortie`) when it exited with 0 within `delai`; none otherwise.
std::optional<std::string> lancerBorne(const char* const* argv, const std::string* entree, bool lireSortie,
                                       std::chrono::milliseconds delai);

}  // namespace vimba
