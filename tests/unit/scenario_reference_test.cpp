// The scenario reference (docs/simulator.md) against the parser: every command and
// every word it takes is written down, every written form parses, and the
// rules said beside them hold.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/handheld.h"
#include "sim/scenario.h"

namespace {

// A documented form: "<ms> card stall <ms> [every <ms>]" and the like, split
// at a separator that is not inside "<...>" or "[...]".
std::vector<std::string> SplitOutside(const std::string& form, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    int depth = 0;
    for (char c : form + separator) {
        if (c == separator && depth == 0) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            continue;
        }
        depth += (c == '<' || c == '[') - (c == '>' || c == ']');
        part += c;
    }
    return parts;
}

std::vector<std::string> Tokens(const std::string& form)
{
    return SplitOutside(form, ' ');
}

std::vector<std::string> Alternatives(const std::string& token)
{
    return SplitOutside(token, '|');
}

bool IsPlaceholder(const std::string& word)
{
    return word.size() > 2 && word.front() == '<' && word.back() == '>';
}

// The reference's commands: the lines of its block, without their notes.
std::vector<std::string> DocumentedForms()
{
    std::ifstream file(SOURCE_DIR "/docs/simulator.md");
    std::vector<std::string> forms;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("    <ms> ", 0) != 0)
            continue;
        const std::string body = line.substr(4);
        forms.push_back(body.substr(0, body.find("  ")));
    }
    return forms;
}

// Every concrete line a form stands for: each choice of its alternatives,
// each optional part left out and put in, each placeholder a value it takes.
// A later <ms> in a line is longer than the one before it, as "every" asks.
void Expand(const std::vector<std::string>& tokens, size_t at, const std::string& line, int ms,
            std::vector<std::string>* out, std::string* unknown)
{
    static const std::map<std::string, std::string> samples = {
        {"<key>", "tab"},       {"<n>", "3"},
        {"<joystick>", "1"},    {"<axis>", "1"},
        {"<value>", "-32768"},  {"<x>", "10"},
        {"<y>", "200"},         {"<bytes>", "4096"},
        {"<level>", "4"},       {"<YYYY-MM-DD HH:MM:SS>", "2026-12-07 10:15:00"},
        {"<file>", "idle.png"}, {"<wav file>", "voice.wav"},
        {"<call>", "open"},
    };
    if (at == tokens.size()) {
        out->push_back(line);
        return;
    }
    const std::string& token = tokens[at];
    if (token.front() == '[' && token.back() == ']') {
        Expand(tokens, at + 1, line, ms, out, unknown);
        std::vector<std::string> inner = Tokens(token.substr(1, token.size() - 2));
        inner.insert(inner.end(), tokens.begin() + static_cast<long>(at) + 1, tokens.end());
        Expand(inner, 0, line, ms, out, unknown);
        return;
    }
    for (const std::string& word : Alternatives(token)) {
        std::string value = word;
        int next_ms = ms;
        if (word == "<ms>") {
            next_ms = ms * 10;
            value = std::to_string(next_ms);
        } else if (IsPlaceholder(word)) {
            auto found = samples.find(word);
            if (found == samples.end()) {
                *unknown = word;
                return;
            }
            value = found->second;
        }
        Expand(tokens, at + 1, line + " " + value, next_ms, out, unknown);
    }
}

TEST(ScenarioReference, NamesEveryCommandAndEveryWordItTakes)
{
    const std::vector<std::string> forms = DocumentedForms();
    ASSERT_FALSE(forms.empty()) << "docs/simulator.md has no scenario reference";
    std::map<std::string, std::set<std::string>> documented;
    for (const std::string& form : forms) {
        const std::vector<std::string> tokens = Tokens(form);
        ASSERT_GE(tokens.size(), 2u) << form;
        std::set<std::string>& modes = documented[tokens[1]];
        if (tokens.size() > 2)
            for (const std::string& word : Alternatives(tokens[2]))
                if (!IsPlaceholder(word))
                    modes.insert(word);
    }
    std::set<std::string> known;
    for (const sim::ScenarioCommandForm& command : sim::ScenarioCommands()) {
        known.insert(command.name);
        ASSERT_TRUE(documented.count(command.name))
            << "docs/simulator.md does not document the scenario command " << command.name;
        for (const std::string& mode : command.modes)
            EXPECT_TRUE(documented[command.name].count(mode))
                << "docs/simulator.md does not document " << command.name << " " << mode;
    }
    for (const auto& entry : documented)
        EXPECT_TRUE(known.count(entry.first))
            << "docs/simulator.md documents a scenario command the parser does not know: " << entry.first;
}

TEST(ScenarioReference, EveryDocumentedFormParses)
{
    for (const std::string& form : DocumentedForms()) {
        const std::vector<std::string> tokens = Tokens(form);
        std::vector<std::string> lines;
        std::string unknown;
        // The first token is the line's time.
        Expand(tokens, 1, "10", 10, &lines, &unknown);
        ASSERT_EQ(unknown, "") << "no sample value for " << unknown << " in: " << form;
        for (const std::string& line : lines) {
            std::vector<sim::ScenarioCommand> commands;
            std::string error;
            EXPECT_TRUE(sim::ParseScenario(line, &commands, &error)) << form << ": " << error;
        }
    }
}

// The rules the reference gives in words.
TEST(ScenarioReference, NumbersReadAsCLiteralsAndKeySymbolsInDecimal)
{
    struct Case {
        const char* line;
        long at_ms;  // -1: refused
    };
    const std::vector<Case> cases = {
        {"010 quit", 8},          {"0x10 quit", 16},    {"08 quit", -1},
        {"16 quit # a note", 16}, {"16 quit#note", 16}, {"-1 quit", -1},
    };
    for (const Case& c : cases) {
        std::vector<sim::ScenarioCommand> commands;
        std::string error;
        const bool parsed = sim::ParseScenario(c.line, &commands, &error);
        EXPECT_EQ(parsed, c.at_ms >= 0) << c.line << ": " << error;
        if (parsed && c.at_ms >= 0) {
            ASSERT_EQ(commands.size(), 1u) << c.line;
            EXPECT_EQ(commands[0].at_ms, c.at_ms) << c.line;
        }
    }
    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario("5 quit\n5 quit\n", &commands, &error)) << error;
}

TEST(ScenarioReference, CardFreeAlsoInsertsTheCard)
{
    sim::Handheld& machine = sim::Handheld::Instance();
    const int64_t free_before = machine.CardFree();
    machine.SetCard(sim::CardState::kOut);
    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("0 card free 1000000", &commands, &error)) << error;
    ASSERT_EQ(commands.size(), 1u);
    commands[0].act(machine);
    EXPECT_EQ(machine.Card(), sim::CardState::kIn);
    EXPECT_EQ(machine.CardFree(), 1000000);
    machine.SetCardFree(free_before);
}

}  // namespace
