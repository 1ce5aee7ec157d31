// The MCP server driven by a scripted client, the technician's side played by a double that
// records the requests it is given.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>
#include <vector>

#include "tools/technicien/mcp.h"

using namespace vimba::technicien;
using json = nlohmann::json;

namespace {

class PosteEnregistreur : public Poste {
public:
    std::vector<std::string> demandes;
    Issue reponse{0, "ok"};
    std::string image;
    Issue code() override { return {0, "123456"}; }
    Issue attendre(double) override { return {2, "pas encore"}; }
    Issue fin() override { return {0, "terminée"}; }
    Issue demande(const std::string& r) override {
        demandes.push_back(r);
        return reponse;
    }
    Issue vue(std::string& jpeg) override {
        jpeg = image;
        return {0, "ok vue " + std::to_string(image.size())};
    }
};

json appel(int id, const std::string& outil, const json& arguments) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", {{"name", outil}, {"arguments", arguments}}}};
}

std::vector<json> dialogue(Poste& poste, const std::vector<std::string>& lignes) {
    std::stringstream entree, sortie;
    for (const auto& l : lignes) entree << l << "\n";
    ServeurMcp(poste).servir(entree, sortie);
    std::vector<json> reponses;
    for (std::string l; std::getline(sortie, l);) reponses.push_back(json::parse(l));
    return reponses;
}

}  // namespace

// The image of `vue` is checked against the real session (tests/session/session_test.sh).
TEST(ServeurMcp, SessionDUnClient) {
    PosteEnregistreur poste;
    const auto r = dialogue(
        poste,
        {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"essai","version":"1"}}})",
         R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
         R"({"jsonrpc":"2.0","id":"l","method":"tools/list","params":{}})",
         appel(3, "clic", {{"x", 640}, {"y", 400.5}}).dump(), "{pas du json",
         R"({"jsonrpc":"2.0","id":5,"method":"ping"})"});
    ASSERT_EQ(r.size(), 5u);  // nothing for the notification

    EXPECT_EQ(r[0]["id"], 1);
    EXPECT_EQ(r[0]["result"]["protocolVersion"], "2025-06-18");
    EXPECT_TRUE(r[0]["result"]["capabilities"].contains("tools"));
    EXPECT_EQ(r[0]["result"]["serverInfo"]["name"], "vimba-technicien");

    EXPECT_EQ(r[1]["id"], "l");
    std::string noms = " ";
    for (const auto& t : r[1]["result"]["tools"]) {
        noms += t["name"].get<std::string>() + " ";
        EXPECT_EQ(t["inputSchema"]["type"], "object") << t["name"];
    }
    for (const char* verbe : {"clic", "double", "droit", "bouger", "defiler", "tape", "touche", "viser", "lire", "vue", "montrer",
                              "dire", "tracer", "effacer", "presse-lire", "presse-ecrire", "etat", "code", "attendre", "fin"})
        EXPECT_NE(noms.find(" " + std::string(verbe) + " "), std::string::npos) << verbe;

    EXPECT_EQ(poste.demandes, std::vector<std::string>{"clic 640 400.5"});
    EXPECT_EQ(r[2]["result"]["content"][0], json({{"type", "text"}, {"text", "ok"}}));
    EXPECT_EQ(r[2]["result"]["isError"], false);

    // A line that is not JSON gets its error, and the server goes on.
    EXPECT_TRUE(r[3]["id"].is_null());
    EXPECT_EQ(r[3]["error"]["code"], -32700);
    EXPECT_EQ(r[4]["id"], 5);
    EXPECT_TRUE(r[4]["result"].is_object());
}

// Each call becomes its request; the computer's answer is the tool's result, a refusal or no
// answer marked as an error there rather than as a protocol error.
TEST(ServeurMcp, ArgumentsEnDemandesEtReponsesEnResultats) {
    const Issue ok{0, "ok"}, refus{1, "refus champ de mot de passe"}, muet{2, "pas de réponse de l’agent"};
    const std::vector<std::tuple<json, std::string, Issue>> cas = {
        {appel(1, "tape", {{"texte", "Bonjour\nlà"}}), "tape\nBonjour\nlà", refus},
        {appel(1, "dire", {{"x", 10}, {"y", 20}, {"texte", "Cliquez « ici »"}}), "dire 10 20\nCliquez « ici »", muet},
        {appel(1, "tracer", {{"points", {{{"x", 1}, {"y", 2}}, {{"x", 3.25}, {"y", -4}}}}}), "tracer 1,2 3.25,-4", ok},
        {appel(1, "defiler", {{"x", 5}, {"y", 6}, {"n", -3}}), "defiler 5 6 -3", ok},
        {appel(1, "touche", {{"combinaison", "ctrl-a"}}), "touche ctrl-a", ok},
        {appel(1, "lire", json::object()), "lire", ok},
        {appel(1, "presse-ecrire", {{"texte", ""}}), "presse-ecrire\n", ok},
    };
    for (const auto& [message, attendue, reponse] : cas) {
        PosteEnregistreur poste;
        poste.reponse = reponse;
        const auto r = dialogue(poste, {message.dump()});
        EXPECT_EQ(poste.demandes, std::vector<std::string>{attendue}) << message.dump();
        ASSERT_EQ(r.size(), 1u);
        EXPECT_FALSE(r[0].contains("error"));
        EXPECT_EQ(r[0]["result"]["isError"], reponse.statut != 0) << message.dump();
        EXPECT_EQ(r[0]["result"]["content"][0]["text"], reponse.texte);
    }
    // A wait that lasts is no failure.
    PosteEnregistreur poste;
    EXPECT_EQ(dialogue(poste, {appel(1, "attendre", {{"delai", 5}}).dump()}).at(0)["result"]["isError"], false);
}

TEST(ServeurMcp, ErreursDuProtocole) {
    const std::vector<std::pair<std::string, int>> cas = {
        {appel(1, "formater", json::object()).dump(), -32602},
        {appel(1, "clic", {{"x", 1}}).dump(), -32602},
        {appel(1, "clic", {{"x", "un"}, {"y", 2}}).dump(), -32602},
        {appel(1, "touche", {{"combinaison", "a\netat"}}).dump(), -32602},
        {appel(1, "tracer", {{"points", {{{"x", 1}, {"y", 2}}}}}).dump(), -32602},
        {appel(1, "defiler", {{"x", 1}, {"y", 2}, {"n", 1.5}}).dump(), -32602},
        {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":[]})", -32602},
        {R"({"jsonrpc":"2.0","id":1,"method":"resources/list"})", -32601},
        {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", -32600},
        {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", -32600},
        {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", -32600},
        {R"({"jsonrpc":"2.0","params":{}})", -32600},
    };
    for (const auto& [ligne, code] : cas) {
        PosteEnregistreur poste;
        const auto r = dialogue(poste, {ligne});
        ASSERT_EQ(r.size(), 1u) << ligne;
        EXPECT_EQ(r[0]["error"]["code"], code) << ligne;
        EXPECT_TRUE(poste.demandes.empty()) << ligne;
    }
}
