// A camera's whole configuration: what a backup reads, the file it is kept
// in (JSON), how a file is checked before anything is sent, the order in
// which a restore sets it, and the comparison that says whether a camera
// holds it. zoomctl and the window share all of it.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/camera_job.h"
#include "link/catalogue.h"

namespace zp {

// The file's "format" and the newest "schema" this program reads.
inline constexpr const char* kBackupFormat = "zoompanel camera settings";
constexpr int kBackupSchema = 1;

// Memories a backup reads unless told otherwise: those Position Load recalls.
constexpr int kFirstMemory = 1, kLastMemory = 64;
// Numbers a memory may have.
constexpr int kMemoryMin = 0, kMemoryMax = 100;

// A setting a backup holds: read back from a reply, changed by a command,
// not an action.
bool InBackup(const TSetting& s);
// Of those, what a restore sends.
bool Restorable(const TSetting& s);

using TSettingValues = std::vector<std::pair<const TSetting*, TValue>>;

struct TPageConfig {
    const TPageDef* Page = nullptr;
    // The answers to the page's reads, as the camera gave them (the title:
    // parts 0 ... 3, then display and position); may be empty in a file
    // written by hand.
    std::vector<TReplyBytes> Replies;
    TSettingValues Values;  // in catalogue order
};

struct TMemoryConfig {
    int Number = 0;
    std::optional<TReplyBytes> Reply;
    TSettingValues Fields;  // the record's fields, in catalogue order
};

struct TCameraConfig {
    int Schema = kBackupSchema;
    std::string Time;                     // ISO 8601, UTC
    std::string Device;                   // what the camera was reached through
    std::vector<TPageConfig> Pages;       // tab order
    std::vector<TMemoryConfig> Memories;  // by number
};

// The reads of a backup: the pages (all when none are named), then the
// memories first ... last (none when first > last).
std::vector<TJobStep> ReadSteps(const std::vector<const TPageDef*>& pages, int firstMemory,
                                int lastMemory);
// The reads that show whether a camera now holds config: its pages and memories.
std::vector<TJobStep> ReadStepsFor(const TCameraConfig& config);

// A configuration from the answers of a job's steps; a memory that the
// camera answered with its general state instead of a record is left out.
TCameraConfig ConfigFromReplies(const std::vector<TJobStep>& steps,
                                const std::vector<TReplyBytes>& replies);

// "2026-12-11T14:03:07Z", now.
std::string UtcNow();

std::string ConfigToJson(const TCameraConfig& config);
// Reads and checks a whole file; false with every fault found, one a line.
bool ConfigFromJson(const std::string& text, TCameraConfig& config, std::string& error);

// The commands that set a camera to config: page by page in tab order, each
// mode with its levels so that the camera takes every level (both levels of
// ALC, then of AES, ...), the mode ending as the file has it; then the
// memories, the one the file's save number names last.
std::vector<TJobStep> RestoreSteps(const TCameraConfig& config);

// What differs between a configuration and what a camera holds now: the
// reply bytes that a restore sets, one line per setting or memory.
std::vector<std::string> Differences(const TCameraConfig& wanted, const TCameraConfig& now);

// A value as a backup file writes it: its text, the title without the
// spaces the camera pads it with.
std::string ValueInFile(const TSetting& s, const TValue& v);

}  // namespace zp
