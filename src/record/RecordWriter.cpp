#include "record/RecordWriter.h"

#include "record/RecordIo.h"

using namespace tcm::recording;

std::unique_ptr<TRecordWriter> CreateRecordWriter(TRecordFormat format, int fd, const std::string& name,
                                                  const TRecordWriterOptions& options)
{
    switch (format) {
    case TRecordFormat::Trace:
        return CreateTraceTextWriter(fd, name);
    case TRecordFormat::Candump:
        return CreateCandumpWriter(fd, name, options);
    case TRecordFormat::Asc:
        return CreateAscWriter(fd, name);
    case TRecordFormat::Blf:
        return CreateBlfWriter(fd, name, options);
    case TRecordFormat::Pcap:
        return CreatePcapWriter(fd, name);
    }
    return nullptr;
}
