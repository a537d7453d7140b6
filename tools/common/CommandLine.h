#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The one command-line parser of the tools: each tool lists its options as a
// table of entries, and every tool words a missing value, an unknown option and
// a bad number the same way and answers --help, -h and --version alike.

enum class TOptionValue {
    None,     // a switch: --log
    Required, // --fps N or --fps=N; an empty value counts as missing
    Optional, // --name=VALUE, or the next word when it does not start with '-'
};

struct TOptionEntry {
    std::string Name; // with its dashes: "--fps"
    TOptionValue Value = TOptionValue::None;
    // Takes the option with its value (empty for a switch or an absent optional
    // value); returns the problem, or an empty text when the value is good.
    std::function<std::string(const std::string& value)> Take;
};
using TOptionTable = std::vector<TOptionEntry>;

// The common wording, for checks a tool makes after parsing.
std::string MissingValueText(const std::string& name);
std::string UnknownOptionText(const std::string& word);
// "bad --fps x (what is expected)"; without the parentheses when `expected` is empty.
std::string BadValueText(const std::string& name, const std::string& value, const std::string& expected);

// Number texts as the number entries read them: digits in `base` only, or a
// finite decimal number; false outside [min, max].
bool ParseCount(const std::string& text, int base, uint64_t min, uint64_t max, uint64_t& out);
bool ParseReal(const std::string& text, double min, double max, double& out);

// Entries for the usual kinds of option. The number entries refuse signs,
// spaces, trailing characters and values outside [min, max] as a bad value.
TOptionEntry SwitchOption(std::string name, bool& out);
TOptionEntry TextOption(std::string name, std::string& out);
TOptionEntry RealOption(std::string name, double min, double max, double& out, std::string expected);
// A whole number in decimal, for any integer type that holds [min, max].
template <typename T>
TOptionEntry CountOption(std::string name, uint64_t min, uint64_t max, T& out, std::string expected)
{
    auto take = [name, min, max, &out, expected](const std::string& value) {
        uint64_t n = 0;
        if (!ParseCount(value, 10, min, max, n))
            return BadValueText(name, value, expected);
        out = static_cast<T>(n);
        return std::string();
    };
    return {std::move(name), TOptionValue::Required, std::move(take)};
}

class TCommandLine {
public:
    // `tool` starts every error line ("tarvenix-slcan: ..."); `usage` prints
    // the whole --help text to the stream it is given.
    TCommandLine(std::string tool, std::function<void(std::FILE*)> usage);

    void Add(TOptionEntry entry);
    void Add(const TOptionTable& table);

    // Reads argv[1..]. Nothing when the tool goes on; otherwise the exit code:
    // 0 after --help (usage on stdout) or --version, 2 after a mistake (the
    // problem and the usage on stderr).
    std::optional<int> Parse(int argc, char** argv) const;

    // Reports a problem the tool found itself as Parse reports one; returns 2.
    int Fail(const std::string& problem) const;

private:
    const TOptionEntry* Find(const std::string& name) const;

    std::string Tool;
    std::function<void(std::FILE*)> Usage;
    TOptionTable Table;
};
