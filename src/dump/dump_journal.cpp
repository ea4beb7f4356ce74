#include "dump_journal.h"

#include "program_texts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace veldar {

namespace fs = std::filesystem;

namespace {

// Microseconds of the steady clock, for the figures of --stats only.
std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The date of the first line: "dd/MM/yyyy hh:mm:ss".
std::string FormatDay(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.Day, t.Month, t.Year,
                  t.Hour, t.Minute, t.Second);
    return text;
}

} // namespace

bool DumpJournal::Start(const fs::path& folder, const std::string& name, const LocalTime& start,
                        const std::string& port) {
    const std::int64_t begin = NowUs();
    records_ = 0;
    lastSyncMs_ = start.MillisecondsSinceEpoch();
    const std::string stem = name + "_" + FormatAutoName(start);
    // Two dumps of the same second (two ports, a journal kept from before) get their own file.
    for (int n = 1; n < 100 && !folder.empty() && !file_.IsOpen(); ++n) {
        std::string fileName = stem;
        if (n > 1) fileName += "_" + std::to_string(n);
        path_ = folder / (fileName + JournalExtension);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path_, ec))) continue;
        if (!file_.Create(path_)) break;
    }
    const ByteString first =
        name + texts::JournalBegan + FormatDay(start) + texts::JournalOnPort + port + "\r\n";
    const bool started = file_.IsOpen() && Append(first, false);
    WriteUs += NowUs() - begin;
    return started;
}

bool DumpJournal::Append(std::string_view bytes, bool payload) {
    if (!file_.IsOpen()) return false;
    const std::int64_t begin = NowUs();
    const bool written = file_.Write(bytes);
    WriteUs += NowUs() - begin;
    ++Writes;
    if (!written) {
        // Half a record would read as a torn one: the journal is given up whole.
        file_.Remove();
        return false;
    }
    if (payload) ++records_;
    return true;
}

void DumpJournal::SyncWithin(std::int64_t nowMs) {
    if (file_.IsOpen() && nowMs - lastSyncMs_ >= 1000) {
        lastSyncMs_ = nowMs;
        Sync();
    }
}

void DumpJournal::Sync() {
    if (!file_.IsOpen()) return;
    const std::int64_t begin = NowUs();
    // A failed sync leaves the written bytes where a crash of the program alone cannot take
    // them; the journal goes on.
    file_.Sync();
    SyncUs += NowUs() - begin;
    ++Syncs;
}

void DumpJournal::Remove() {
    if (file_.IsOpen()) file_.Remove();
}

void DumpJournal::Keep() {
    if (!file_.IsOpen()) return;
    Sync();
    file_.Close();
}

JournalFile DumpJournal::HandOver() {
    Sync();
    records_ = 0;
    return std::move(file_);
}

JournalContent ReadJournalContent(const std::string& bytes) {
    JournalContent content;
    std::size_t at = bytes.find("\r\n");
    if (at == std::string::npos) return content;
    at += 2;
    // The header comes as the first record only: a first payload starting with "#;" is
    // always the header, never a record of the capture.
    if (bytes.compare(at, 2, "#;") == 0) {
        std::size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) return content;
        at = end + 2;
    }
    content.Capture = bytes.substr(at);
    for (std::size_t line = content.Capture.find("\r\n"); line != std::string::npos;
         line = content.Capture.find("\r\n", line + 2))
        ++content.Records;
    content.Torn = !content.Capture.empty() && !content.Capture.ends_with("\r\n");
    if (content.Torn) ++content.Records;
    return content;
}

std::string JournalTime(const fs::path& journal) {
    const std::string name = journal.filename().string();
    if (!name.ends_with(JournalExtension)) return {};
    for (std::string_view program : {WindowJournalName, TerminalJournalName}) {
        const std::string prefix = std::string(program) + "_";
        if (!name.starts_with(prefix)) continue;
        std::string_view rest(name);
        rest.remove_prefix(prefix.size());
        rest.remove_suffix(std::string_view(JournalExtension).size());
        const std::string_view time = rest.substr(0, 14);
        if (time.size() != 14 || !IsDigits(time)) return {};
        rest.remove_prefix(14);
        if (rest.empty() || (rest.size() > 1 && rest[0] == '_' && IsDigits(rest.substr(1))))
            return std::string(time);
        return {};
    }
    return {};
}

std::vector<fs::path> FindJournals(const fs::path& folder) {
    std::vector<fs::path> journals;
    std::error_code ec;
    if (folder.empty()) return journals;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (!JournalTime(it->path()).empty()) journals.push_back(it->path());
    std::sort(journals.begin(), journals.end());
    return journals;
}

} // namespace veldar
