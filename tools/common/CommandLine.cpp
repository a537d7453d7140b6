#include "CommandLine.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "Version.h"

std::string MissingValueText(const std::string& name)
{
    return name + " needs a value";
}

std::string UnknownOptionText(const std::string& word)
{
    return "unknown option " + word;
}

std::string BadValueText(const std::string& name, const std::string& value, const std::string& expected)
{
    std::string text = "bad " + name + " " + value;
    if (!expected.empty())
        text += " (" + expected + ")";
    return text;
}

bool ParseCount(const std::string& text, int base, uint64_t min, uint64_t max, uint64_t& out)
{
    // strtoull would take a sign, leading blanks and "0x".
    if (text.empty() || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool ParseReal(const std::string& text, double min, double max, double& out)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < min || value > max)
        return false;
    out = value;
    return true;
}

TOptionEntry SwitchOption(std::string name, bool& out)
{
    return {std::move(name), TOptionValue::None, [&out](const std::string&) {
                out = true;
                return std::string();
            }};
}

TOptionEntry TextOption(std::string name, std::string& out)
{
    return {std::move(name), TOptionValue::Required, [&out](const std::string& value) {
                out = value;
                return std::string();
            }};
}

TOptionEntry RealOption(std::string name, double min, double max, double& out, std::string expected)
{
    auto take = [name, min, max, &out, expected](const std::string& value) {
        return ParseReal(value, min, max, out) ? std::string() : BadValueText(name, value, expected);
    };
    return {std::move(name), TOptionValue::Required, std::move(take)};
}

TCommandLine::TCommandLine(std::string tool, std::function<void(std::FILE*)> usage)
    : Tool(std::move(tool)), Usage(std::move(usage))
{
}

void TCommandLine::Add(TOptionEntry entry)
{
    Table.push_back(std::move(entry));
}

void TCommandLine::Add(const TOptionTable& table)
{
    Table.insert(Table.end(), table.begin(), table.end());
}

const TOptionEntry* TCommandLine::Find(const std::string& name) const
{
    for (const TOptionEntry& entry : Table)
        if (entry.Name == name)
            return &entry;
    return nullptr;
}

std::optional<int> TCommandLine::Parse(int argc, char** argv) const
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            Usage(stdout);
            return 0;
        }
        if (word == "--version") {
            std::printf("%s %d.%d\n", Tool.c_str(), TCM_VERSION_MAJOR, TCM_VERSION_MINOR);
            return 0;
        }
        // --name=value is the same as --name value.
        const size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const TOptionEntry* entry = Find(name);
        if (!entry)
            return Fail(UnknownOptionText(name));
        std::string value;
        if (equals != std::string::npos) {
            if (entry->Value == TOptionValue::None)
                return Fail(name + " takes no value");
            value = word.substr(equals + 1);
        } else if (entry->Value == TOptionValue::Required && i + 1 < argc) {
            value = argv[++i];
        } else if (entry->Value == TOptionValue::Optional && i + 1 < argc && argv[i + 1][0] != '-') {
            value = argv[++i];
        }
        if (entry->Value == TOptionValue::Required && value.empty())
            return Fail(MissingValueText(name));
        if (const std::string problem = entry->Take(value); !problem.empty())
            return Fail(problem);
    }
    return std::nullopt;
}

int TCommandLine::Fail(const std::string& problem) const
{
    std::fprintf(stderr, "%s: %s\n", Tool.c_str(), problem.c_str());
    Usage(stderr);
    return 2;
}
