// Printed values, what the reader accepts as other DBC tools do, and frames
// composed from signal values, checked against canmatrix's encoder.
#include <gtest/gtest.h>

#include <set>

#include "CanmatrixOracle.h"
#include "signals/DbcDecoder.h"
#include "signals/DbcEncoder.h"
#include "signals/DbcReader.h"

namespace {

const std::string kData = TCM_DBC_TEST_DIR "/data/";

// The printed value of `raw` in a signal of the given layout, factor and offset.
std::string Printed(const std::string& layout, const std::string& factor, const std::string& offset, uint64_t raw)
{
    const TDbcDatabase db =
        ReadDbcText("BO_ 1 M: 8 X\n SG_ S : " + layout + " (" + factor + "," + offset + ") [0|0] \"\" X\n");
    EXPECT_TRUE(db.Problems.empty()) << DbcProblemReport(db, "text");
    uint8_t data[8] = {};
    for (int i = 0; i < 8; ++i)
        data[i] = static_cast<uint8_t>(raw >> (8 * i));
    std::vector<TDbcDecoded> decoded;
    DecodeDbcFrame(db.Messages.at(0), data, 8, decoded);
    return decoded.empty() ? "(none)" : FormatDbcValue(decoded[0]);
}

std::string Encoded(const TDbcMessage& m, const std::string& values, uint8_t start = 0)
{
    std::vector<TDbcAssignment> assignments;
    std::string error;
    if (!ParseDbcAssignments(values, assignments, error))
        return error;
    uint8_t data[8];
    std::fill(data, data + 8, start);
    if (!EncodeDbcFrame(m, assignments, data, 8, error))
        return error;
    std::string hex;
    for (uint8_t b : data) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", b);
        hex += text;
    }
    return hex;
}

} // namespace

TEST(DbcValues, PrintsTheDecimalTheFactorAndOffsetDescribe)
{
    struct TCase {
        const char* Layout;
        const char* Factor;
        const char* Offset;
        uint64_t Raw;
        const char* Expected;
    } cases[] = {
        {"0|16@1-", "0.1", "0", 0xFE65, "-41.1"}, // -411 * 0.1
        {"0|16@1+", "0.1", "-82.2", 411, "-41.1"},
        {"0|32@1+", "0.05", "0", 1, "0.05"},
        {"0|32@1+", "0.05", "0", 20, "1"},
        {"0|32@1+", "0.05", "-1600", 32000, "0"},
        {"0|32@1+", "0.01", "0", 12345, "123.45"},
        {"0|32@1+", "0.01", "-40", 3, "-39.97"},
        {"0|8@1+", "0.333333333333333", "0", 3, "0.999999999999999"},
        {"0|8@1+", "0.333333333333333", "0", 1, "0.333333333333333"},
        {"0|16@1+", "0.0625", "0", 37, "2.3125"},
        {"0|16@1+", "0.0625", "-273.15", 4370, "-0.025"},
        {"0|16@1-", "0.5", "-100", 0x8000, "-16484"},
        {"0|8@1+", "1", "-40", 0, "-40"},
        {"0|8@1+", "1.0", "0.0", 200, "200"},
        {"0|8@1+", "1E-5", "0", 3, "3e-05"},
        {"0|8@1+", "0.0001", "0", 3, "0.0003"},
        {"0|8@1+", "100", "0", 255, "25500"},
        {"0|32@1+", "0.000001", "0", 1234567, "1.234567"},
        // Beyond 15 significant digits: rounded, as %.15g writes it.
        {"0|64@1+", "0.1", "0", 1152921504606846976ull, "1.15292150460685e+17"},
        {"0|64@1+", "2", "0", 18446744073709551615ull, "3.68934881474191e+19"},
        // Factor 1, offset 0: exact to 64 bits.
        {"0|64@1+", "1", "0", 18446744073709551615ull, "18446744073709551615"},
        {"0|64@1-", "1", "0", 0x8000000000000000ull, "-9223372036854775808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Printed(c.Layout, c.Factor, c.Offset, c.Raw), c.Expected)
            << c.Factor << ", " << c.Offset << ", raw " << c.Raw;
}

TEST(DbcValues, ReadsWhatOtherToolsRead)
{
    // Names beginning with a digit, kept as written; ids wider than 29 bits
    // reported (Vector's pseudo-message silently); references to them quiet.
    const TDbcDatabase db = ReadDbcText("BU_: 4WD_CTRL XXX\n"
                                        "BO_ 1275 2017_5: 8 4WD_CTRL\n"
                                        " SG_ 4WD_MODE : 7|3@0+ (1,0) [0|7] \"\" 4WD_CTRL\n"
                                        "BO_ 3221225472 VECTOR__INDEPENDENT_SIG_MSG: 0 Vector__XXX\n"
                                        " SG_ Loose : 0|8@1+ (1,0) [0|0] \"\" Vector__XXX\n"
                                        "BO_ 1610612736 Typo: 8 XXX\n"
                                        "CM_ SG_ 3221225472 Loose \"no message\";\n"
                                        "VAL_ 3221225472 Loose 0 \"Zero\" ;\n"
                                        "VAL_ 1275 4WD_MODE 1 \"4WD high\" ;\n");
    ASSERT_EQ(db.Messages.size(), 1u);
    EXPECT_EQ(db.Messages[0].Name, "2017_5");
    EXPECT_EQ(db.Nodes, (std::vector<std::string>{"4WD_CTRL", "XXX"}));
    EXPECT_EQ(db.Messages[0].Transmitter, "4WD_CTRL");
    EXPECT_EQ(DbcProblemReport(db, "f"),
              "f:6: the identifier of Typo is wider than 29 bits; it is left out: BO_ 1610612736 Typo: 8 XXX\n");
    std::vector<TDbcDecoded> decoded;
    const uint8_t data[8] = {0x20};
    DecodeDbcFrame(db.Messages[0], data, 8, decoded);
    EXPECT_EQ(FormatDbcSignal(decoded.at(0)), "4WD_MODE = 1 (4WD high)");

    // The same unit in UTF-8 and in Windows-1252 reads as the same text; a
    // control character of a file is shown escaped, in lines and reports.
    const std::string line = "BO_ 1 M: 8 X\n SG_ T : 0|8@1+ (1,0) [0|0] \"\xC2\xB0"
                             "C\" X\n";
    const TDbcDatabase utf8 = ReadDbcText(line);
    const TDbcDatabase cp1252 = ReadDbcText("BO_ 1 M: 8 X\n SG_ T : 0|8@1+ (1,0) [0|0] \"\xB0"
                                            "C\" X\n");
    EXPECT_EQ(utf8.Encoding, TDbcEncoding::Utf8);
    EXPECT_EQ(cp1252.Encoding, TDbcEncoding::Windows1252);
    EXPECT_EQ(cp1252.Messages.at(0).Signals.at(0).Unit, "\xC2\xB0"
                                                        "C");
    EXPECT_EQ(utf8.Messages.at(0).Signals.at(0).Unit, "\xC2\xB0"
                                                      "C");
    const TDbcDatabase hostile = ReadDbcText("BO_ 1 M: 8 X\n SG_ T : 0|8@1+ (1,0) [0|0] \"\x1B]0;owned\x07\" X\n"
                                             "VAL_ 1 T 0 \"a\x1B[31mred\xC2\x9B\" ;\n"
                                             "\x1B[2J\n");
    decoded.clear();
    DecodeDbcFrame(hostile.Messages.at(0), data + 1, 1, decoded);
    EXPECT_EQ(FormatDbcSignal(decoded.at(0)), "T = 0 \\x1B]0;owned\\x07 (a\\x1B[31mred\\u009B)");
    EXPECT_EQ(DbcProblemReport(hostile, "f"), "f:4: expected a section keyword: \\x1B[2J\n");

    // Cascaded multiplexing: a signal shows only when the whole chain selects it.
    const TDbcDatabase mux = ReadDbcText("BO_ 2 Diag: 8 X\n"
                                         " SG_ Service M : 0|8@1+ (1,0) [0|0] \"\" X\n"
                                         " SG_ Sub m1M : 8|8@1+ (1,0) [0|0] \"\" X\n"
                                         " SG_ Deep m0 : 16|8@1+ (1,0) [0|0] \"\" X\n"
                                         " SG_ Plain m7 : 24|8@1+ (1,0) [0|0] \"\" X\n"
                                         "SG_MUL_VAL_ 2 Sub Service 1-2, 5-5;\n"
                                         "SG_MUL_VAL_ 2 Deep Sub 3-4;\n");
    EXPECT_TRUE(mux.Problems.empty()) << DbcProblemReport(mux, "mux");
    const auto names = [&](std::vector<uint8_t> bytes) {
        std::vector<TDbcDecoded> out;
        DecodeDbcFrame(mux.Messages.at(0), bytes.data(), 8, out);
        std::string text;
        for (const auto& d : out)
            text += d.Signal->Name + " ";
        return text;
    };
    EXPECT_EQ(names({5, 4, 0, 0, 0, 0, 0, 0}), "Service Sub Deep ");
    EXPECT_EQ(names({2, 3, 0, 0, 0, 0, 0, 0}), "Service Sub Deep ");
    EXPECT_EQ(names({2, 5, 0, 0, 0, 0, 0, 0}), "Service Sub ");
    EXPECT_EQ(names({3, 4, 0, 0, 0, 0, 0, 0}), "Service "); // Sub not selected, so neither is Deep
    EXPECT_EQ(names({7, 4, 0, 0, 0, 0, 0, 0}), "Service Plain ");

    // Multiplexors selecting each other are reported and never decoded.
    const TDbcDatabase circle = ReadDbcText("BO_ 3 C: 8 X\n"
                                            " SG_ A m1M : 0|8@1+ (1,0) [0|0] \"\" X\n"
                                            " SG_ B m1M : 8|8@1+ (1,0) [0|0] \"\" X\n"
                                            "SG_MUL_VAL_ 3 A B 1-1;\n"
                                            "SG_MUL_VAL_ 3 B A 1-1;\n");
    EXPECT_EQ(DbcProblemReport(circle, "c"),
              "c:1: multiplexors of C select each other in a circle; their signals are not decoded\n");
    decoded.clear();
    const uint8_t ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(DecodeDbcFrame(circle.Messages.at(0), ones, 8, decoded), 0u);
}

TEST(DbcValues, ComposesFramesAsCanmatrixDoesAndRefusesWhatDoesNotFit)
{
    const std::string file = kData + "vehicle.dbc";
    TDbcDatabase db;
    std::string error;
    ASSERT_TRUE(LoadDbcFile(file, db, error)) << error;
    TDbcDatabase other;
    ASSERT_TRUE(LoadDbcFile(kData + "signals.dbc", other, error)) << error;

    struct TCase {
        const TDbcDatabase* Db;
        const char* Message;
        std::vector<std::string> Values;
    } cases[] = {
        {&db, "STEER_ANGLE_SENSOR", {"STEER_ANGLE=-41.1", "STEER_FRACTION=0.3", "STEER_RATE=-250"}},
        {&db, "2017_5", {"4WD_MODE=4WD low", "2ND_AXLE_TORQUE=-12.35", "OIL_TEMP=85", "3RD_COUNTER=9"}},
        {&db,
         "ENGINE_DATA",
         {"ENGINE_SPEED=2000.125", "COOLANT_TEMP=90.75", "THROTTLE=12.3", "FUEL_RATE=4.56", "AMBIENT_TEMP=-7.5",
          "GEAR=Drive", "TORQUE_RATIO=0.999999999999999"}},
        {&db, "EEC1", {"EngTorqueMode=3", "DriverDemandTorque=-20", "EngSpeed=1500", "EngDemandTorque=125"}},
        {&db, "BATTERY", {"PackVoltage=398.5", "PackCurrent=-120.5"}},
        {&db, "ODOMETER", {"TotalDistance=123456.789"}},
        {&db, "LIFETIME", {"OperatingSeconds=18446744073709551615"}},
        {&db, "POSITION", {"Altitude=-12.25"}},
        {&other, "BodyData", {"WheelSpeed=123.45", "Accel=-0.5", "Odometer=2047", "Mode=Eco", "Tail=-3"}},
        {&other, "Muxed", {"Selector=Travel", "Common=7", "Position=16000000"}},
        {&other, "Muxed", {"Selector=Load", "Current=-100.5", "Heater=1"}},
    };
    std::vector<TOracleRequest> requests;
    std::vector<std::string> ours;
    for (const auto& c : cases) {
        const TDbcMessage* m = c.Db->FindByName(c.Message);
        ASSERT_NE(m, nullptr) << c.Message;
        if (c.Db == &db)
            requests.push_back({m->Id, m->Extended, c.Values});
        std::string joined;
        for (const auto& v : c.Values)
            joined += (joined.empty() ? "" : ",") + v;
        ours.push_back(Encoded(*m, joined));
    }
    const auto theirs = CanmatrixEncode(file, requests, "cp1252");
    ASSERT_EQ(theirs.size(), requests.size());
    for (size_t i = 0; i < theirs.size(); ++i)
        EXPECT_EQ(ours[i], theirs[i]) << cases[i].Message;
    // Every composed frame decodes to the values given.
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TDbcMessage* m = cases[i].Db->FindByName(cases[i].Message);
        uint8_t data[8];
        for (size_t b = 0; b < 8; ++b)
            data[b] = static_cast<uint8_t>(std::stoul(ours[i].substr(2 * b, 2), nullptr, 16));
        std::vector<TDbcDecoded> decoded;
        DecodeDbcFrame(*m, data, 8, decoded);
        std::set<std::string> shown;
        for (const auto& d : decoded)
            shown.insert(d.Signal->Name + "=" + (d.Text ? *d.Text : FormatDbcValue(d)));
        for (const auto& v : cases[i].Values)
            EXPECT_EQ(shown.count(v), 1u) << v << " in " << ours[i];
    }
    const TDbcMessage& diag = *db.FindByName("DIAG_RESPONSE");
    const TDbcMessage& engine = *db.FindByName("ENGINE_DATA");
    // A multiplexed signal alone sets its chain of multiplexors; the bits of
    // signals not given stay.
    EXPECT_EQ(Encoded(diag, "CabinTemp=21.5"), "0100670200000000");
    EXPECT_EQ(Encoded(diag, "Humidity=50", 0xAA), "0104AAAA64AAAAAA");
    EXPECT_EQ(Encoded(diag, "Service=Identification,SoftwareVersion=305419896"), "0378563412000000");
    // Refused, with the signal named, never wrapped.
    EXPECT_EQ(Encoded(engine, "THROTTLE=102.4"), "THROTTLE: 102.4 % is outside its range 0..102.3 %");
    EXPECT_EQ(Encoded(engine, "GEAR=Flying"),
              "GEAR: 'Flying' is not a number nor one of its values (Park, Reverse, Neutral, Drive, Not available)");
    EXPECT_EQ(Encoded(*db.FindByName("BATTERY"), "PackCurrent=2147483627"),
              "PackCurrent: 2147483627 needs the raw value 4294967294, which 32 signed bits cannot hold "
              "(-2147483648..2147483647)");
    EXPECT_EQ(Encoded(engine, "Gear=3"), "no signal Gear in ENGINE_DATA");
    EXPECT_EQ(Encoded(engine, "GEAR=3,GEAR=2"), "GEAR is given twice");
    EXPECT_EQ(Encoded(engine, "GEAR"), "expected Signal=value, not 'GEAR'");
    EXPECT_EQ(Encoded(diag, "Service=3,CabinTemp=20"),
              "CabinTemp is not sent together with Service = 3 (SubFunction needs Service = 1..2)");
    EXPECT_EQ(Encoded(diag, "Pressure=1,CabinTemp=20"),
              "CabinTemp is not sent together with Pressure (it needs SubFunction = 0..3)");
}
