#pragma once
#include <QString>
#include <string>
#include <vector>

#include "app/PlotPage.h"

// What is plotted, in the settings file's [Plot] section (the database it
// was plotted with, then per series its key, colour and legend), so that the
// next start plots it again. Signals come back only with the same database;
// raw fields always.
void SavePlotSettings(const std::string& iniFile, const QString& database, const std::vector<TPlotPage::TSaved>& saved);
std::vector<TPlotPage::TSaved> LoadPlotSettings(const std::string& iniFile, const QString& database);
