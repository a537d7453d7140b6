#include "app/PlotSettings.h"

#include "platform/IniFile.h"

namespace {

constexpr const char* kSection = "Plot";

} // namespace

void SavePlotSettings(const std::string& iniFile, const QString& database, const std::vector<TPlotPage::TSaved>& saved)
{
    TIniFile::CreateEmptyIfMissing(iniFile);
    TIniFile ini(iniFile);
    ini.WriteString(kSection, "Database", database.toStdString());
    ini.WriteInteger(kSection, "Count", static_cast<int32_t>(saved.size()));
    for (size_t i = 0; i < saved.size(); ++i) {
        const std::string n = std::to_string(i);
        ini.WriteString(kSection, "Series" + n, saved[i].Key);
        ini.WriteString(kSection, "Colour" + n, saved[i].Colour.name().toStdString());
        ini.WriteInteger(kSection, "Legend" + n, saved[i].InLegend ? 1 : 0);
    }
}

std::vector<TPlotPage::TSaved> LoadPlotSettings(const std::string& iniFile, const QString& database)
{
    std::vector<TPlotPage::TSaved> out;
    const TIniFile ini(iniFile);
    const bool sameDatabase = QString::fromStdString(ini.ReadString(kSection, "Database", "")) == database;
    const int32_t count = ini.ReadInteger(kSection, "Count", 0);
    for (int32_t i = 0; i < count && i < 1000; ++i) {
        const std::string n = std::to_string(i);
        TPlotPage::TSaved s;
        s.Key = ini.ReadString(kSection, "Series" + n, "");
        if (s.Key.rfind("signal:", 0) == 0 && (!sameDatabase || database.isEmpty()))
            continue;
        s.Colour = QColor(QString::fromStdString(ini.ReadString(kSection, "Colour" + n, "")));
        s.InLegend = ini.ReadInteger(kSection, "Legend" + n, 1) != 0;
        out.push_back(std::move(s));
    }
    return out;
}
