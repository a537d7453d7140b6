#include "record/RecordMerge.h"

bool TRecordMerge::Open(const std::vector<std::string>& paths, int channel, std::string& error)
{
    Sources.clear();
    Sources.reserve(paths.size());
    for (const std::string& path : paths) {
        auto reader = OpenRecordReader(path, error);
        if (!reader)
            return false;
        reader->Channel = channel;
        reader->OnError = [this](const std::string& message) {
            if (OnError)
                OnError(message);
        };
        Sources.push_back({path, std::move(reader), {}, false, false});
    }
    // The first frames are read by the first Next, so that damage in them is
    // reported through an OnError set after Open.
    return true;
}

void TRecordMerge::Advance(TSource& source)
{
    source.HasHead = source.Reader->Next(source.Head);
    source.Ended = !source.HasHead;
}

bool TRecordMerge::Next(TRecordFrame& out)
{
    if (Sources.size() == 1) {
        // One file needs no look-ahead.
        return Sources[0].Reader->Next(out);
    }
    TSource* earliest = nullptr;
    for (TSource& source : Sources) {
        if (!source.HasHead && !source.Ended)
            Advance(source);
        if (source.HasHead && (!earliest || source.Head.WallUs < earliest->Head.WallUs))
            earliest = &source;
    }
    if (!earliest)
        return false;
    out = earliest->Head;
    earliest->HasHead = false;
    return true;
}

std::vector<std::string> TRecordMerge::LeftOut() const
{
    std::vector<std::string> texts;
    for (const TSource& source : Sources)
        if (const std::string text = source.Reader->LeftOut(); !text.empty())
            texts.push_back(source.Path + ": " + text);
    return texts;
}
