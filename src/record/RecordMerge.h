#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record/RecordReader.h"

// Several recordings read as one: the frames of all files in time order, each
// file read one frame ahead, so any number of files of any length merge in
// constant memory. Frames of the same microsecond keep the order of the files.
// Each file is read as it is; the merge does not sort what one file holds out
// of order.
class TRecordMerge {
public:
    // Opens every file (by content, else by extension) and reads `channel` of
    // each. False with `error` set for the first one that cannot be read.
    bool Open(const std::vector<std::string>& paths, int channel, std::string& error);
    // The next frame of all files; false when every file is at its end.
    bool Next(TRecordFrame& out);
    // Damaged lines and objects, as the readers word them ("name: line 12: ...").
    std::function<void(const std::string& message)> OnError;
    // What each file left out, "path: <sentence>", for the files that left something out.
    std::vector<std::string> LeftOut() const;

private:
    struct TSource {
        std::string Path;
        std::unique_ptr<TRecordReader> Reader;
        TRecordFrame Head;
        bool HasHead = false;
        bool Ended = false;
    };
    void Advance(TSource& source);

    std::vector<TSource> Sources;
};
