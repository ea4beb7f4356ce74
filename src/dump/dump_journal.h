// The journal of a dump: every payload the dump accepts is written to a file of the program's
// folder before the device hears its "ACK", so that a record the device considers delivered
// survives a crash, a kill or a power cut of the program. The journal goes once a copy of the
// records is safely on disk; one left by a dead run becomes a capture at the next start.
#pragma once

#include "com_types.h"
#include "local_time.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veldar {

// The journals' names: "<program>_yyyyMMddHHmmss[_n].journal". Each program writes its own;
// both recover any that no running program holds.
inline constexpr char WindowJournalName[] = "VELDAR";
inline constexpr char TerminalJournalName[] = "veldar-dump";
inline constexpr char JournalExtension[] = ".journal";

// The journal's file as the platform has it: a new regular file, never reached through a
// link, locked (flock, LockFileEx) for as long as it is open, so that a recovery by another
// program leaves it alone.
class JournalFile {
public:
    JournalFile() = default;
    ~JournalFile() { Close(); }
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;
    // The open file and its lock go with the move.
    JournalFile(JournalFile&& other) noexcept
        : path_(std::move(other.path_)), folderSynced_(other.folderSynced_) {
#ifdef _WIN32
        handle_ = std::exchange(other.handle_, nullptr);
#else
        fd_ = std::exchange(other.fd_, -1);
#endif
    }
    JournalFile& operator=(JournalFile&&) = delete;

    // Creates the file, only a new one, and locks it; false when it could not (nothing is left
    // behind then).
    bool Create(const std::filesystem::path& file);
    // What a recovery finds: the file taken with its lock, one that a running program holds,
    // or one that cannot serve (not a regular file, a link, no rights).
    enum class Claim { Taken, Held, Unusable };
    Claim Take(const std::filesystem::path& file);
    // The bytes of a taken file, at most maxBytes; nullopt on an error or a larger file.
    std::optional<std::string> ReadAll(std::size_t maxBytes);
    // A plain write of all the bytes at the end, no flush.
    bool Write(std::string_view bytes);
    // The written data on the disk (fdatasync, FlushFileBuffers); on POSIX the folder's entry
    // too, the first time.
    bool Sync();
    // Removes the open file, then closes it.
    bool Remove();
    // Closes; the file stays.
    void Close();
    bool IsOpen() const;

private:
    std::filesystem::path path_;
    bool folderSynced_ = false;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// The running dump's journal, with the time its writes and syncs took (for --stats).
class DumpJournal {
public:
    // Creates "<name>_<start>.journal" (or _2, _3... when taken) in the folder, its first line
    // telling when the dump began and on which port. False when it could not be created.
    bool Start(const std::filesystem::path& folder, const std::string& name, const LocalTime& start,
               const std::string& port);
    // Appends the bytes, a payload or the header's line; false (and the journal given up and
    // removed) when they did not all go.
    bool Append(std::string_view bytes, bool payload);
    // Syncs when a second has passed since the last sync (clock of the dump, milliseconds).
    void SyncWithin(std::int64_t nowMs);
    void Sync();
    // Ends the journal: removed (a copy of its records is safe, or nothing was to be kept), or
    // closed and kept for the next start.
    void Remove();
    void Keep();
    // Synced and handed over, still open and locked: the journal of records kept apart
    // (no folder took them), which no recovery may copy while they wait.
    JournalFile HandOver();
    bool Active() const { return file_.IsOpen(); }
    // True once a payload went in after the first lines.
    bool HoldsRecords() const { return records_ > 0; }
    const std::filesystem::path& File() const { return path_; }

    std::int64_t WriteUs = 0;
    std::int64_t SyncUs = 0;
    int Writes = 0;
    int Syncs = 0;

private:
    JournalFile file_;
    std::filesystem::path path_;
    std::int64_t lastSyncMs_ = 0;
    int records_ = 0;
};

// A journal's records as a capture: its first line, and the header's line that may follow,
// left out; a last payload without its CR LF (torn by the program's death) kept as it is.
struct JournalContent {
    ByteString Capture;
    int Records = 0;
    bool Torn = false;
};
JournalContent ReadJournalContent(const std::string& bytes);

// The journals in the folder, by name, from either program.
std::vector<std::filesystem::path> FindJournals(const std::filesystem::path& folder);

// The start of the dump as its journal's name says it, "yyyyMMddHHmmss"; empty when the name
// is not a journal's.
std::string JournalTime(const std::filesystem::path& journal);

} // namespace veldar
