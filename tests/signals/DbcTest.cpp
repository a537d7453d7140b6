// The DBC reader and decoder, checked against canmatrix decoding the same
// frames with the same files, and against files it must report on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <future>
#include <map>
#include <random>
#include <set>

#include "CanmatrixOracle.h"
#include "signals/DbcDecoder.h"
#include "signals/DbcEncoder.h"
#include "signals/DbcReader.h"

namespace {

const std::string kData = TCM_DBC_TEST_DIR "/data/";

std::vector<TOracleFrame> TestFrames(const TDbcDatabase& db)
{
    std::vector<TOracleFrame> frames;
    std::mt19937 random(20261208);
    for (const auto& m : db.Messages) {
        std::vector<std::vector<uint8_t>> datas = {std::vector<uint8_t>(8, 0x00),
                                                   std::vector<uint8_t>(8, 0xFF),
                                                   {0x80, 0, 0, 0, 0, 0, 0, 0x01},
                                                   {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA},
                                                   {0x01, 0, 0, 0, 0, 0x0B, 0, 0}};
        for (int i = 0; i < 40; ++i) {
            std::vector<uint8_t> data(8);
            for (auto& b : data)
                b = static_cast<uint8_t>(random());
            if (m.Multiplexor >= 0) // every page of Muxed and one without signals; DIAG_RESPONSE 0..9
                data[0] = static_cast<uint8_t>(m.MuxOrder.size() > 1 ? i % 10 : i % 4);
            if (m.MuxOrder.size() > 1)
                data[1] = static_cast<uint8_t>(i % 8);
            datas.push_back(data);
        }
        for (auto& data : datas)
            frames.push_back({m.Id, m.Extended, data});
    }
    return frames;
}

// Integer signals whose printed value canmatrix's exact decimal shows in at
// most 15 digits must print that very decimal; factor 1, offset 0 signals
// their raw value whatever its size.
void ExpectExactText(const TDbcDecoded& d, const TOracleSignal& theirs)
{
    const TDbcSignal& s = *d.Signal;
    if (s.Type != TDbcValueType::Integer)
        return;
    const std::string mine = FormatDbcValue(d);
    if (s.ExactFactor.IsOne() && s.ExactOffset.IsZero()) {
        EXPECT_EQ(mine, theirs.Raw);
        return;
    }
    TDbcDecimal expected;
    TDbcDecimal printed;
    ASSERT_TRUE(DbcParseDecimal(theirs.Phys, expected)) << theirs.Phys;
    if (!expected.Valid || std::to_string(std::llabs(expected.Coefficient)).size() > 15)
        return;
    ASSERT_TRUE(DbcParseDecimal(mine, printed)) << mine;
    EXPECT_TRUE(printed.Coefficient == expected.Coefficient && printed.Exponent == expected.Exponent)
        << mine << " printed for " << theirs.Phys;
}

// Every decoded signal given back to the encoder (as its value-table text or
// its printed value) onto bytes whose bits of those signals are inverted must
// give the frame's bytes again. Signals outside the file's range, floats and
// values printed with rounding are left as they are.
void ExpectEncodeGivesBytesBack(const TDbcMessage& m, const std::vector<TDbcDecoded>& decoded,
                                const std::vector<uint8_t>& data)
{
    std::vector<TDbcAssignment> values;
    uint8_t flipped[8];
    std::copy(data.begin(), data.end(), flipped);
    TDbcFrameBits bits(flipped, 8);
    for (const auto& d : decoded) {
        const TDbcSignal& s = *d.Signal;
        const bool inRange = (s.Minimum == 0 && s.Maximum == 0) || (d.Value >= s.Minimum && d.Value <= s.Maximum);
        const std::string text = d.Text ? *d.Text : FormatDbcValue(d);
        TDbcDecimal exact;
        // Values printed rounded to 15 digits (ExpectExactText checks which
        // those are) do not lead back to their raw value.
        TDbcInt128 raw = 0;
        bool onRaw = false;
        const TDbcInt128 wanted = s.Signed ? TDbcInt128{d.Raw} : TDbcInt128{static_cast<uint64_t>(d.Raw)};
        const bool printedExactly =
            s.ExactFactor.IsOne() ||
            (DbcParseDecimal(text, exact) && DbcRawFromDecimal(exact, s.ExactFactor, s.ExactOffset, raw, onRaw) &&
             raw == wanted);
        if (s.Type != TDbcValueType::Integer || (!d.Text && (!inRange || !printedExactly)))
            continue;
        values.push_back({s.Name, text});
        DbcPutRaw(s, ~static_cast<uint64_t>(d.Raw), bits);
    }
    bits.Store(flipped);
    std::string error;
    ASSERT_TRUE(EncodeDbcFrame(m, values, flipped, 8, error)) << error;
    EXPECT_EQ(std::vector<uint8_t>(flipped, flipped + 8), data) << m.Name << " with " << values.size() << " signals";
}

// Decodes every test frame of `file` and compares with canmatrix: the set of
// signals (multiplexed pages), raw values, physical values, value-table texts
// and the printed decimals; then encodes the decoded values back.
void CompareWithCanmatrix(const std::string& file, const std::string& encoding, size_t messages,
                          std::set<std::string>& texts)
{
    TDbcDatabase db;
    std::string error;
    ASSERT_TRUE(LoadDbcFile(file, db, error)) << error;
    ASSERT_EQ(db.Messages.size(), messages) << DbcProblemReport(db, file);

    const auto frames = TestFrames(db);
    const auto expected = CanmatrixDecode(file, frames, encoding);
    std::set<std::string> seen;
    std::vector<TDbcDecoded> decoded;
    for (size_t i = 0; i < frames.size(); ++i) {
        const TOracleFrame& f = frames[i];
        const TDbcMessage* m = db.Find(f.Id, f.Extended);
        ASSERT_NE(m, nullptr);
        decoded.clear();
        DecodeDbcFrame(*m, f.Data.data(), 8, decoded);
        std::map<std::string, TOracleSignal> ours;
        std::map<std::string, const TDbcDecoded*> byName;
        for (const auto& d : decoded) {
            const bool isFloat = d.Signal->Type != TDbcValueType::Integer;
            const std::string raw =
                d.Signal->Signed ? std::to_string(d.Raw) : std::to_string(static_cast<uint64_t>(d.Raw));
            ours[d.Signal->Name] = {isFloat ? "-" : raw, d.Value, "", d.Text ? *d.Text : ""};
            byName[d.Signal->Name] = &d;
        }
        ASSERT_EQ(ours.size(), expected[i].size()) << m->Name << " frame " << i;
        for (const auto& [name, theirs] : expected[i]) {
            SCOPED_TRACE(m->Name + "." + name + " frame " + std::to_string(i));
            ASSERT_EQ(ours.count(name), 1u);
            const TOracleSignal& mine = ours[name];
            EXPECT_EQ(mine.Raw, theirs.Raw);
            if (std::isnan(theirs.Value))
                EXPECT_TRUE(std::isnan(mine.Value));
            else if (std::isinf(theirs.Value))
                EXPECT_EQ(mine.Value, theirs.Value);
            else
                EXPECT_NEAR(mine.Value, theirs.Value, std::fabs(theirs.Value) * 1e-12);
            EXPECT_EQ(mine.Text, theirs.Text);
            ExpectExactText(*byName[name], theirs);
            seen.insert(name);
            if (!mine.Text.empty())
                texts.insert(mine.Text);
        }
        ExpectEncodeGivesBytesBack(*m, decoded, f.Data);
    }
    // Every signal was compared, each multiplexed page among them.
    EXPECT_EQ(seen.size(), db.SignalCount());
}

} // namespace

TEST(Dbc, DecodesAndEncodesEveryFrameLikeCanmatrix)
{
    // A file in the shape of real vehicle databases, written in Windows-1252:
    // digit-first names, extended multiplexing with ranges and a multiplexor
    // that is itself multiplexed, Motorola and Intel signals across bytes,
    // 64-bit and float signals, a J1939 identifier, Vector's pseudo-message.
    // It is compared side by side with the first file: canmatrix takes a while to start.
    std::set<std::string> vehicleTexts;
    auto vehicle =
        std::async(std::launch::async, [&] { CompareWithCanmatrix(kData + "vehicle.dbc", "cp1252", 9, vehicleTexts); });
    std::set<std::string> texts;
    CompareWithCanmatrix(kData + "signals.dbc", "", 7, texts);
    // Value tables of plain, scaled and signed signals matched.
    for (const char* text : {"Drive", "Pressed", "Invalid", "Minus one", "Open", "Power", "Travel", "Load"})
        EXPECT_EQ(texts.count(text), 1u) << text;
    vehicle.get();
    for (const char* text : {"4WD high", "Drive", "Routine", "Cabin", "Tyres", "Identification"})
        EXPECT_EQ(vehicleTexts.count(text), 1u) << text;
}

TEST(Dbc, ReadsTheFileAndReadsOverOtherSections)
{
    TDbcDatabase db;
    std::string error;
    ASSERT_TRUE(LoadDbcFile(kData + "signals.dbc", db, error)) << error;
    EXPECT_EQ(db.Version, "1.2 test vehicle");
    EXPECT_EQ(db.Nodes, (std::vector<std::string>{"Engine", "Dash", "Gateway"}));
    EXPECT_EQ(db.Comment, "Fixture of the signal decoder tests.");

    const TDbcMessage* engine = db.Find(100, false);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->Name, "EngineData");
    EXPECT_EQ(engine->Transmitter, "Engine");
    EXPECT_EQ(engine->Comment, "Engine values,\nsent every 10 ms");
    const TDbcSignal& speed = engine->Signals[0];
    EXPECT_EQ(speed.Comment, "Crankshaft speed.\nSecond line of the comment; with a semicolon and a \"quote\".");
    EXPECT_EQ(speed.Receivers, (std::vector<std::string>{"Dash", "Gateway"}));
    EXPECT_EQ(speed.Unit, "rpm");
    EXPECT_DOUBLE_EQ(speed.Maximum, 16383.75);

    // The extended flag: 0x200 standard and 0x200 extended are two messages.
    ASSERT_NE(db.Find(0x200, false), nullptr);
    ASSERT_NE(db.Find(0x200, true), nullptr);
    EXPECT_EQ(db.Find(0x200, true)->Name, "ExtendedTwin");
    EXPECT_EQ(db.Find(0x18FEF1FE, true)->Name, "TripData");
    EXPECT_EQ(db.Find(0x18FEF1FE, false), nullptr);
    EXPECT_EQ(db.Find(0x123, false), nullptr);

    // Printed lines, and a frame too short for some signals decodes the rest.
    const uint8_t data[3] = {0x40, 0x1F, 0x7B}; // 8000 * 0.25 rpm, 123 - 40 degC
    std::vector<TDbcDecoded> decoded;
    ASSERT_EQ(DecodeDbcFrame(*engine, data, 3, decoded), 2u);
    EXPECT_EQ(FormatDbcSignal(decoded[0]), "EngineSpeed = 2000 rpm");
    EXPECT_EQ(FormatDbcSignal(decoded[1]), "CoolantTemp = 83 degC");
    decoded.clear();
    const uint8_t gear[8] = {0, 0, 0, 0, 0, 0x0B, 0, 0}; // Gear 3, BrakeOn 1
    DecodeDbcFrame(*engine, gear, 8, decoded);
    EXPECT_EQ(FormatDbcSignal(decoded[3]), "Gear = 3 (Drive)");
    EXPECT_EQ(FormatDbcSignal(decoded[4]), "BrakeOn = 1 (Pressed)");
    EXPECT_EQ(FormatDbcSignal(decoded[5]), "Throttle = 0 %");
    EXPECT_EQ(FormatDbcSignal(decoded[6]), "Status = 1");
    decoded.clear();
    const uint8_t all[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    DecodeDbcFrame(*db.Find(0x18FEF1FE, true), all, 8, decoded);
    EXPECT_EQ(FormatDbcValue(decoded[0]), "18446744073709551615");
    decoded.clear();
    DecodeDbcFrame(*engine, all, 8, decoded);
    EXPECT_EQ(FormatDbcValue(decoded[5]), "102.3"); // 1023 * 0.1, without binary noise
}

TEST(Dbc, ReportsLinesItCannotReadAndKeepsTheRest)
{
    const std::string file = kData + "broken.dbc";
    TDbcDatabase db;
    std::string error;
    ASSERT_TRUE(LoadDbcFile(file, db, error)) << error;
    ASSERT_EQ(db.Messages.size(), 2u);
    EXPECT_EQ(db.Messages[0].Signals.size(), 2u);
    EXPECT_EQ(db.Messages[0].Signals[1].Name, "AlsoGood");
    ASSERT_EQ(db.Messages[1].Signals.size(), 1u);
    EXPECT_EQ(db.Messages[1].Signals[0].Name, "Fine");

    const std::string report = DbcProblemReport(db, "broken.dbc");
    EXPECT_EQ(report,
              "broken.dbc:12: expected the signal length (a whole number): "
              " SG_ Bad : 8|x@1+ (1,0) [0|255] \"\" Node\n"
              "broken.dbc:15: unknown section 'this': this line is not DBC\n"
              "broken.dbc:18: signal bits run past the eight data bytes:  SG_ Wide : 60|8@1+ (1,0) [0|255] \"\" Node\n"
              "broken.dbc:19: the multiplexed signal Fine of Second names Wide, which is no multiplexor of it\n"
              "broken.dbc:22: a value table of an unknown signal: VAL_ 999 Nothing 0 \"None\" ;\n"
              "broken.dbc:23: a text in double quotes never ends: CM_ SG_ 292 Fine \"no end of the comment ;\n");

    EXPECT_FALSE(LoadDbcFile(kData + "missing.dbc", db, error));
    EXPECT_EQ(error, "cannot open " + kData + "missing.dbc");

    // Statements cut short or out of place are reported one by one, at their lines.
    db = ReadDbcText("SG_ Orphan : 0|8@1+ (1,0) [0|0] \"\" X\n"
                     "BO_ 1 M: 8 X\n"
                     " SG_ Zero : 0|0@1+ (1,0) [0|0] \"\" X\n"
                     " SG_ Far : 99|1@1+ (1,0) [0|0] \"\" X\n"
                     " SG_ Mux m : 0|1@1+ (1,0) [0|0] \"\" X\n"
                     " SG_ Ok : 0|1@1+ (1,0) [0|0] \"\"\n"
                     "BO_ 2 Cut: \n"
                     "CM_ BO_ 1 \"missing semicolon\"\n"
                     "VAL_ 1 Ok 1 \"x\" 2 ;\n"
                     "BO_ 1 Twice: 8 X\n"
                     " SG_ Ignored : 0|1@1+ (1,0) [0|0] \"\" X\n");
    std::vector<int> lines;
    for (const auto& problem : db.Problems)
        lines.push_back(problem.Line);
    EXPECT_EQ(lines, (std::vector<int>{1, 3, 4, 5, 7, 8, 9, 10})) << DbcProblemReport(db, "text");
    ASSERT_EQ(db.Messages.size(), 1u);
    ASSERT_EQ(db.Messages[0].Signals.size(), 1u);
    EXPECT_EQ(db.Messages[0].Signals[0].Name, "Ok");
}
