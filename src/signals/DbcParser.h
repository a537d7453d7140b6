#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

#include "signals/DbcDatabase.h"
#include "signals/DbcLexer.h"

// The statement reader behind ReadDbcText. Each statement method reads one
// statement; on a mismatch it notes what was expected and returns false, and
// Run reports the line and goes on at the next line that starts a statement.
class TDbcParser {
public:
    explicit TDbcParser(std::string_view text) : Lex(text) {}
    TDbcDatabase Run();

private:
    struct TFailure {
        TDbcToken At;
        std::string What;
    };

    // One expected token each; false (with the failure noted) on a mismatch.
    bool Fail(const std::string& what);
    bool Punct(char c, const char* what);
    bool Word(std::string& out, const char* what);
    bool Text(std::string& out, const char* what);
    bool Unsigned(uint64_t& out, const char* what);
    bool Real(double& out, const char* what);
    bool Real(double& out, TDbcDecimal& exact, const char* what);
    bool MessageId(uint32_t& id, bool& extended);
    void Problem(int line, const std::string& text);
    void Recover();
    void SkipRestOfLine();
    void SkipStatement();

    bool Statement();
    bool NewSymbols();
    bool NodeList();
    bool Message();
    bool Signal();
    bool MuxMark(const std::string& mark, TDbcSignal& s);
    bool CommentStatement();
    bool ValueTable();
    bool ValueType();
    bool MuxValues();
    // The signal a statement refers to; when there is none, `what` is
    // reported, unless its message was left out on purpose (already reported).
    TDbcSignal* Referenced(uint32_t id, bool extended, const std::string& name, const std::string& what);

    static uint64_t Key(uint32_t id, bool extended) { return (static_cast<uint64_t>(extended) << 32) | id; }

    TDbcLexer Lex;
    TDbcDatabase Db;
    TFailure Failure;
    int StatementLine = 0;
    static constexpr int kUnusedMessage = -2; // the signals of a message left out
    int CurrentMessage = -1;
    size_t Dropped = 0;
    std::unordered_set<uint64_t> LeftOut; // messages left out (identifier too wide)
};
