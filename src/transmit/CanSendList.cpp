#include "transmit/CanSendList.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/FileReplace.h"
#include "platform/ProgramDir.h"

namespace {

struct TFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void ThrowReadError(int error, const std::string& path)
{
    throw std::system_error(error != 0 ? error : EIO, std::generic_category(),
                            "Cannot read the transmit list file " + path);
}

// Names what stood in the way of a save, when something was planted there.
std::string Because(const std::system_error& e)
{
    const auto* planted = dynamic_cast<const tcm::EPlantedFile*>(&e);
    return planted ? ", because " + tcm::PlantedFileText(planted->Path()) : std::string();
}

} // namespace

// The lock primitive itself: the analysis takes the marks on the declarations.
TSendListLock::TSendListLock(const TCanSendList& list) TCM_NO_THREAD_SAFETY_ANALYSIS : Mutex(list.Lock())
{
    Mutex.lock();
}

TSendListLock::~TSendListLock() TCM_NO_THREAD_SAFETY_ANALYSIS
{
    Mutex.unlock();
}

TCanSendList::TCanSendList() = default;

TCanSendList::~TCanSendList()
{
    if (Persistent) {
        // A destructor must not throw: the owner learns of a failed save through
        // OnSaveError instead.
        std::string failure;
        try {
            SaveToFile();
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            failure = "Cannot write the transmit list file";
        }
        if (!failure.empty()) {
            try {
                if (OnSaveError)
                    OnSaveError(failure);
                else
                    std::fprintf(stderr, "%s\n", failure.c_str());
            } catch (...) {
                // Nothing more can be done for the text here.
            }
        }
    }
    TSendListLock guard(*this);
    Items.clear();
}

int32_t TCanSendList::Count() const
{
    return static_cast<int32_t>(Items.size());
}

TCanSendItem* TCanSendList::GetItem(int32_t index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return Items[static_cast<size_t>(index)].get();
}

void TCanSendList::Add(TCanSendItem* item)
{
    Add(std::unique_ptr<TCanSendItem>(item));
}

void TCanSendList::Add(std::unique_ptr<TCanSendItem> item)
{
    if (!item)
        return;
    {
        TSendListLock guard(*this);
        item->OnSend = OnSend;
        Items.push_back(std::move(item));
    }
    NotifyChanged();
}

void TCanSendList::Delete(int32_t index)
{
    std::unique_ptr<TCanSendItem> removed;
    {
        TSendListLock guard(*this);
        if (index < 0 || index >= Count())
            return;
        const auto at = Items.begin() + index;
        removed = std::move(*at);
        Items.erase(at);
    }
    // No scan can reach the item any more; it is destroyed outside the lock.
}

bool TCanSendList::MoveUp(int32_t index)
{
    TSendListLock guard(*this);
    if (index < 1 || index >= Count())
        return false;
    std::swap(Items[static_cast<size_t>(index)], Items[static_cast<size_t>(index) - 1]);
    return true;
}

bool TCanSendList::MoveDown(int32_t index)
{
    TSendListLock guard(*this);
    if (index < 0 || index >= Count() - 1)
        return false;
    std::swap(Items[static_cast<size_t>(index)], Items[static_cast<size_t>(index) + 1]);
    return true;
}

void TCanSendList::ResetCounters()
{
    TSendListLock guard(*this);
    for (const auto& item : Items)
        item->ResetCount();
}

void TCanSendList::SetStandard(bool flag)
{
    TSendListLock guard(*this);
    Standard = flag;
    for (const auto& item : Items)
        item->Frame.Standard = flag;
}

void TCanSendList::SetOnSend(std::function<bool(const TCanFrame&)> handler)
{
    TSendListLock guard(*this);
    OnSend = std::move(handler);
    for (const auto& item : Items)
        item->OnSend = OnSend;
}

bool TCanSendList::SendFrame(const TCanFrame& frame)
{
    tcm::TMutexLock guard(Mutex);
    return OnSend && OnSend(frame);
}

void TCanSendList::SendOnRequest()
{
    TSendListLock guard(*this);
    for (const auto& item : Items) {
        if (item->SendType == cstOnRequest && item->Active)
            item->Send();
    }
}

void TCanSendList::SendPeriodic(uint32_t now)
{
    TSendListLock guard(*this);
    for (const auto& item : Items) {
        if (item->SendType != cstPeriodic || !item->Active || item->Period < 0)
            continue;
        const uint32_t elapsed = now - item->LastSendTime;
        if (elapsed >= static_cast<uint32_t>(item->Period))
            item->Send();
    }
}

uint32_t TCanSendList::MsUntilDue(uint32_t now) const
{
    TSendListLock guard(*this);
    uint32_t wait = kNothingDue;
    for (const auto& item : Items) {
        if (item->SendType != cstPeriodic || !item->Active || item->Period < 0)
            continue;
        const uint32_t elapsed = now - item->LastSendTime;
        const uint32_t period = static_cast<uint32_t>(item->Period);
        wait = std::min(wait, elapsed >= period ? 0u : period - elapsed);
    }
    return wait;
}

void TCanSendList::SetOnChanged(std::function<void()> handler)
{
    tcm::TMutexLock guard(ChangedLock);
    OnChanged = std::move(handler);
}

void TCanSendList::NotifyChanged()
{
    tcm::TMutexLock guard(ChangedLock);
    if (OnChanged)
        OnChanged();
}

std::string TCanSendList::GetFileName() const
{
    if (!FileOverride.empty())
        return FileOverride;
    return tcm::FilesDir() + "trans_list_" + NameSuffix + ".dat";
}

void TCanSendList::SetFileName(const std::string& path)
{
    FileOverride = path;
}

void TCanSendList::SetPersistent(bool persistent)
{
    Persistent = persistent;
}

void TCanSendList::LoadFromFile()
{
    if (!Persistent)
        return;
    const std::string path = GetFileName();
    LeftAlone = tcm::RemoveStaleTempFiles(path);
    Rejected.clear();
    BackupKept = false;
    try {
        LoadFrom(path, false, &Rejected);
    } catch (const std::system_error&) {
        UnreadFile = path;
        throw;
    }
}

void TCanSendList::LoadFromFileName(const std::string& path)
{
    LoadFrom(path, true, nullptr);
}

std::string TCanSendList::LeftAloneNotice() const
{
    std::string text;
    for (const std::string& name : LeftAlone)
        text += (text.empty() ? "" : "\n") + tcm::PlantedFileText(name) + ".";
    return text;
}

std::string TCanSendList::RejectedLinesNotice() const
{
    if (Rejected.empty())
        return {};
    constexpr size_t kShown = 20;
    std::string numbers;
    for (size_t i = 0; i < Rejected.size() && i < kShown; ++i)
        numbers += (i == 0 ? "" : ", ") + std::to_string(Rejected[i]);
    if (Rejected.size() > kShown)
        numbers += " and " + std::to_string(Rejected.size() - kShown) + " more";
    const std::string path = GetFileName();
    return "The transmit list file " + path + " has lines that were not understood: " + numbers +
           ". They are not in the list; the file as it was is kept as " + path + ".bak when the list is saved.";
}

void TCanSendList::LoadFrom(const std::string& path, bool missingIsError, std::vector<int32_t>* rejected)
{
    errno = 0;
    std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        const int error = errno;
        if (error == ENOENT && !missingIsError)
            return;
        ThrowReadError(error, path);
    }

    int32_t lineNumber = 0;
    const auto takeLine = [&](std::string& line) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            return;
        auto item = std::make_unique<TCanSendItem>();
        bool loaded = false;
        {
            TUnlistedItem unlisted; // not in the list until Add
            loaded = item->LoadFromString(line);
        }
        if (loaded)
            Add(std::move(item));
        else if (rejected)
            rejected->push_back(lineNumber);
    };

    // Complete lines are taken as they arrive, so the items read before a read
    // failure stay in the list.
    std::string pending;
    char buffer[16384];
    for (;;) {
        errno = 0;
        const size_t n = std::fread(buffer, 1, sizeof(buffer), file.get());
        size_t start = 0;
        for (size_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                pending.append(buffer + start, i - start);
                takeLine(pending);
                pending.clear();
                start = i + 1;
            }
        }
        pending.append(buffer + start, n - start);
        if (n < sizeof(buffer)) {
            if (std::ferror(file.get()))
                ThrowReadError(errno, path);
            break;
        }
    }
    // The last line may lack its line end.
    if (!pending.empty())
        takeLine(pending);
}

void TCanSendList::SaveToFile()
{
    const std::string path = GetFileName();
    if (!Persistent || path == UnreadFile)
        return;
    std::string content;
    {
        TSendListLock guard(*this);
        content.reserve(Items.size() * 40);
        for (const auto& item : Items) {
            content += item->SaveToString();
            content += "\r\n";
        }
    }
    if (!Rejected.empty() && !BackupKept) {
        // The rejected lines are about to go: the file as it was stays beside it.
        try {
            tcm::KeepFileCopy(path, path + ".bak");
        } catch (const std::system_error& e) {
            if (e.code().value() != ENOENT)
                throw std::system_error(e.code(), "Cannot keep a copy of the transmit list file " + path + " as " +
                                                      path + ".bak" + Because(e));
        }
        BackupKept = true;
    }
    try {
        tcm::ReplaceFileContents(path, content);
    } catch (const std::system_error& e) {
        throw std::system_error(e.code(), "Cannot write the transmit list file " + path + Because(e));
    }
}

void TCanSendList::SetOnSaveError(std::function<void(const std::string&)> handler)
{
    OnSaveError = std::move(handler);
}
