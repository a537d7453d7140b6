#pragma once
// Helpers of the receive table view tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/CanGeneral.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"

namespace tcmtest {

inline TCanFrame Frame(uint32_t id, bool standard, bool request, std::initializer_list<uint8_t> data, uint32_t time = 0)
{
    TCanFrame frame;
    frame.Id = id;
    frame.Standard = standard;
    frame.Request = request;
    frame.Length = static_cast<int32_t>(data.size());
    int i = 0;
    for (uint8_t b : data)
        frame.Data[i++] = b;
    frame.Time = time;
    return frame;
}

inline std::vector<std::string> LineTexts(const TListViewFrameTable& view, int32_t index)
{
    std::vector<std::string> texts;
    const QTreeWidgetItem* line = view.Line(index);
    if (!line)
        return texts;
    for (int c = 0; c < view.columnCount(); ++c)
        texts.push_back(line->text(c).toStdString());
    return texts;
}

// The five cell texts a row must show, written here independently of the view.
inline std::vector<std::string> ExpectedTexts(const TTarvenixTableItem& row)
{
    char buffer[64];
    std::vector<std::string> texts;
    std::snprintf(buffer, sizeof buffer, row.Standard ? "%03X" : "%08X", row.Id);
    texts.push_back(buffer);
    texts.push_back(std::to_string(row.Length));
    std::string data;
    if (row.Request) {
        data = "Request";
    } else {
        for (int i = 0; i < row.Length; ++i) {
            std::snprintf(buffer, sizeof buffer, i == 0 ? "%02X" : " %02X", row.DataByte(i));
            data += buffer;
        }
    }
    texts.push_back(data);
    texts.push_back(std::to_string(row.Count));
    texts.push_back(std::to_string(row.Period));
    return texts;
}

inline uint32_t ExpectedViewKey(const TTarvenixTableItem& row)
{
    return row.Id | (row.Standard ? 0u : 1u << 31) | (row.Request ? 1u << 30 : 0u);
}

// Line i shows row i, for every row, and there are no other lines.
inline void ExpectViewShowsTable(const TListViewFrameTable& view, const TTarvenixTable& table)
{
    ASSERT_EQ(view.LineCount(), table.Count());
    int mismatches = 0;
    for (int32_t i = 0; i < table.Count() && mismatches < 5; ++i) {
        const TTarvenixTableItem& row = *table.Item(i);
        const std::vector<std::string> shown = LineTexts(view, i);
        if (shown != ExpectedTexts(row) || view.Line(i)->ViewKey != ExpectedViewKey(row)) {
            ++mismatches;
            ADD_FAILURE() << "line " << i << " shows " << (shown.empty() ? "?" : shown[0]) << " / "
                          << (shown.size() > 3 ? shown[3] : "") << ", row is " << ExpectedTexts(row)[0] << " / "
                          << row.Count;
        }
    }
}

} // namespace tcmtest
