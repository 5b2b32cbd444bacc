// Backup files: reading a camera's configuration into one, checking one, and
// turning one into the commands of a restore and a verdict afterwards.
#include "link/backup.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "link/func.h"

namespace zp {

namespace {

using TJson = nlohmann::ordered_json;

TJobStep MemoryStep(int n) {
    TJobStep step =
        QueryStep(*PageOfGroup(kGroupPosition), kItemReadRecord, static_cast<uint8_t>(n));
    step.What = "read memory " + std::to_string(n);
    step.Memory = n;
    return step;
}

bool IsRecordField(const TSetting& s) {
    return s.ReplyForm == kNonZeroForm;
}

// Which of a page's replies carries the setting: the title's text is in the
// four part replies, everything else in the last (or only) one.
size_t ReplyIndex(const TPageDef& page, const TSetting& s) {
    return page.Group == kGroupTitle && s.Kind != TSettingKind::Text ? kTitleParts : 0;
}

size_t ReadsOf(const TPageDef& page) {
    return page.Group == kGroupTitle ? kTitleParts + 1 : 1;
}

// A reply with nothing in it yet: the header of the page's i-th read.
TReplyBytes EmptyReply(const TPageDef& page, size_t i) {
    TReplyBytes r{};
    r[0] = kSTX;
    r[1] = kDataReply;
    r[2] = page.Group;
    if (page.Group == kGroupTitle && i < static_cast<size_t>(kTitleParts)) {
        r[3] = kItemTitleText;
        r[4] = static_cast<uint8_t>(i);
    }
    r[16] = kETX;
    return r;
}

// The raw field as bytes (a bit field as one byte holding its value).
std::vector<uint8_t> RawField(const TSetting& s, const TReplyBytes& r) {
    const auto at = static_cast<size_t>(s.ReplyByte);
    if (s.ReplyBit >= 0) {
        return {static_cast<uint8_t>((r[at] >> s.ReplyBit) & ((1u << s.ReplyBits) - 1))};
    }
    return {r.begin() + static_cast<std::ptrdiff_t>(at),
            r.begin() + static_cast<std::ptrdiff_t>(at + ReplyWidth(s))};
}

// Whether a set command can carry the raw field as it is.
bool Sendable(const TSetting& s, const std::vector<uint8_t>& raw) {
    switch (s.Encoding) {
        case TEncoding::Byte:
            return raw[0] >= s.Min && raw[0] <= s.Max;
        case TEncoding::Flag:
            return raw[0] <= 1;
        default:
            return true;
    }
}

// Writes a value into its place in a reply, as the camera would report it.
void PutField(const TSetting& s, const TValue& v, TReplyBytes& r) {
    const auto at = static_cast<size_t>(s.ReplyByte);
    switch (s.Kind) {
        case TSettingKind::Step: {
            const auto w = static_cast<uint16_t>(v.Number);
            r[at] = static_cast<uint8_t>(w >> 8);
            r[at + 1] = static_cast<uint8_t>(w & 0xFF);
            return;
        }
        case TSettingKind::Area:
            std::copy(v.Area.begin(), v.Area.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
            return;
        case TSettingKind::Switch:
            r[at] = v.Number != 0 ? 1 : 0;
            return;
        default:
            r[at] = static_cast<uint8_t>(v.Number);
            return;
    }
}

// The title's text from its four part replies, 20 characters.
std::string TitleText(const std::vector<TReplyBytes>& replies) {
    std::string text;
    for (size_t p = 0; p < static_cast<size_t>(kTitleParts) && p < replies.size(); ++p) {
        for (const TDecoded& d : DecodeReply(replies[p].data(), replies[p].size())) {
            if (d.Setting->Kind == TSettingKind::Text) {
                text += d.Value.Text;
            }
        }
    }
    return text;
}

std::string Padded(std::string text) {
    text.resize(static_cast<size_t>(kTitleLength), ' ');
    return text;
}

// Puts a title text into the four part replies.
void PutTitle(const std::string& text, std::vector<TReplyBytes>& replies) {
    const std::string t = Padded(text);
    for (size_t p = 0; p < static_cast<size_t>(kTitleParts); ++p) {
        for (size_t i = 0; i < static_cast<size_t>(kTitlePartLength); ++i) {
            const uint16_t code =
                TitleCodeOf(static_cast<uint8_t>(t[p * static_cast<size_t>(kTitlePartLength) + i]));
            replies[p][5 + 2 * i] = static_cast<uint8_t>(code >> 8);
            replies[p][6 + 2 * i] = static_cast<uint8_t>(code & 0xFF);
        }
    }
}

// What a reply says of a setting, decoded.
std::optional<TValue> Decoded(const TSetting& s, const TReplyBytes& r) {
    for (const TDecoded& d : DecodeReply(r.data(), r.size())) {
        if (d.Setting == &s) {
            return d.Value;
        }
    }
    return std::nullopt;
}

// The replies a camera holding the page's values gives: the file's own
// where they say the same as its values (they keep what decoding loses and
// a command can carry), the values written in where not.
std::vector<TReplyBytes> ExpectedReplies(const TPageConfig& page) {
    std::vector<TReplyBytes> replies = page.Replies;
    if (replies.size() != ReadsOf(*page.Page)) {
        replies.clear();
        for (size_t i = 0; i < ReadsOf(*page.Page); ++i) {
            replies.push_back(EmptyReply(*page.Page, i));
        }
    }
    for (const auto& [s, v] : page.Values) {
        if (!Restorable(*s)) {
            continue;
        }
        if (s->Kind == TSettingKind::Text) {
            if (page.Replies.empty() || Padded(v.Text) != TitleText(replies)) {
                PutTitle(v.Text, replies);
            }
            continue;
        }
        TReplyBytes& r = replies[ReplyIndex(*page.Page, *s)];
        const std::optional<TValue> was = Decoded(*s, r);
        if (page.Replies.empty() || !was || ValueText(*s, *was) != ValueText(*s, v) ||
            !Sendable(*s, RawField(*s, r))) {
            PutField(*s, v, r);
        }
    }
    return replies;
}

// The record bytes 5 ... 10 a memory is saved with, the same way.
std::array<uint8_t, 6> ExpectedRecord(const TMemoryConfig& m) {
    std::array<uint8_t, 6> record{};
    if (m.Reply) {
        std::copy(m.Reply->begin() + 5, m.Reply->begin() + 11, record.begin());
        bool same = true;
        for (const auto& [f, v] : m.Fields) {
            const std::optional<TValue> d = Decoded(*f, *m.Reply);
            if (d && ValueText(*f, *d) != ValueText(*f, v)) {
                same = false;
            }
        }
        if (same) {
            return record;
        }
    }
    for (const auto& [f, v] : m.Fields) {
        PackRecordField(*f, v, record);
    }
    return record;
}

// The set command for a setting, its value taken from the expected reply.
TJobStep SetStep(const TSetting& s, const TReplyBytes& r, std::string what) {
    TJobStep step;
    step.Page = PageOfGroup(s.Group);
    step.Payload = {kSet, s.Group, static_cast<uint8_t>(s.Item)};
    const std::vector<uint8_t> raw = RawField(s, r);
    step.Payload.insert(step.Payload.end(), raw.begin(), raw.end());
    step.What = std::move(what);
    return step;
}

TJobStep ModeStep(const TSetting& mode, uint8_t value) {
    TValue v;
    v.Number = value;
    TJobStep step;
    step.Page = PageOfGroup(mode.Group);
    step.Payload = EncodeSet(mode, v);
    step.What = std::string(mode.Id) + " := " + ValueText(mode, v);
    return step;
}

std::string Described(const TSetting& s, const TReplyBytes& r) {
    const std::optional<TValue> v = Decoded(s, r);
    const std::vector<uint8_t> raw = RawField(s, r);
    return (v ? ValueInFile(s, *v) : std::string("?")) + " (" +
           BytesToHex(raw.data(), raw.size(), " ") + ")";
}

// ---- JSON ----------------------------------------------------------------

std::string HexOf(const TReplyBytes& r) {
    return BytesToHex(r.data() + 1, 15, " ");
}

bool ReplyFromHex(const std::string& text, TReplyBytes& r) {
    std::vector<uint8_t> bytes;
    std::string unused;
    if (!HexToBytes(text, bytes, unused) || bytes.size() != 15) {
        return false;
    }
    r = {};
    r[0] = kSTX;
    std::copy(bytes.begin(), bytes.end(), r.begin() + 1);
    r[16] = kETX;
    return true;
}

TJson SettingsJson(const TSettingValues& values) {
    TJson settings = TJson::object();
    for (const auto& [s, v] : values) {
        settings[std::string(s->Id)] = ValueInFile(*s, v);
    }
    return settings;
}

// Collects the faults of a file, each with where it is.
class TChecker {
  public:
    void Fault(const std::string& where, const std::string& what) {
        faults_.push_back(where + ": " + what);
    }
    bool Ok() const { return faults_.empty(); }
    std::string Text() const { return JoinTexts(faults_, "\n"); }

    // An object with only the keys allowed.
    bool Object(const TJson& j, const std::string& where, std::initializer_list<const char*> keys) {
        if (!j.is_object()) {
            Fault(where, "should be an object");
            return false;
        }
        for (const auto& item : j.items()) {
            if (std::none_of(keys.begin(), keys.end(),
                             [&](const char* k) { return item.key() == k; })) {
                Fault(where, "unknown key \"" + item.key() + "\"");
            }
        }
        return true;
    }

    // The settings of one page or memory: known, where they belong, held by
    // a backup, each value readable.
    TSettingValues Settings(const TJson& j, const std::string& where,
                            const std::function<bool(const TSetting&)>& belongs,
                            const std::string& belongsText) {
        TSettingValues values;
        if (!j.is_object()) {
            Fault(where, "should be an object of \"identifier\": \"value\"");
            return values;
        }
        for (const auto& item : j.items()) {
            const std::string at = where + ".\"" + item.key() + "\"";
            std::string error;
            const TSetting* s = LookupSetting(item.key(), error);
            if (s == nullptr) {
                Fault(at, error);
                continue;
            }
            if (!belongs(*s)) {
                Fault(at, "not a setting of " + belongsText);
                continue;
            }
            if (!item.value().is_string()) {
                Fault(at, "the value should be a text, as \"" +
                              std::string(s->Items.empty() ? "0" : s->Items.front()) + "\"");
                continue;
            }
            TValue v;
            if (!ParseValue(*s, item.value().get<std::string>(), v, error)) {
                Fault(at, error);
                continue;
            }
            values.emplace_back(s, std::move(v));
        }
        // Catalogue order, whatever the file's.
        std::sort(values.begin(), values.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        return values;
    }

    bool Reply(const TJson& j, const std::string& where, TReplyBytes& r) {
        if (!j.is_string() || !ReplyFromHex(j.get<std::string>(), r)) {
            Fault(where, "should be 15 bytes in hexadecimal, reply bytes 1 ... 15");
            return false;
        }
        return true;
    }

  private:
    std::vector<std::string> faults_;
};

// Whether a reply is the answer to a page's i-th read.
bool ReplyFits(const TPageDef& page, size_t i, const TReplyBytes& r) {
    if (r[1] != kDataReply || r[2] != page.Group) {
        return false;
    }
    if (page.Group == kGroupTitle) {
        return i < static_cast<size_t>(kTitleParts) ? r[3] == kItemTitleText && r[4] == i
                                                    : r[3] == kItemTitleDisplay;
    }
    return page.Group != kGroupPosition || r[3] == 0;
}

void ReadPage(TChecker& c, const TPageDef& page, const TJson& j, const std::string& where,
              TCameraConfig& config) {
    if (!c.Object(j, where, {"settings", "replies"})) {
        return;
    }
    TPageConfig pc;
    pc.Page = &page;
    if (j.contains("settings")) {
        pc.Values = c.Settings(
            j["settings"], where + ".settings",
            [&](const TSetting& s) { return s.Group == page.Group && InBackup(s); },
            "page " + std::string(page.Id) + " that a backup holds");
    }
    if (j.contains("replies")) {
        const TJson& replies = j["replies"];
        if (!replies.is_array() || replies.size() != ReadsOf(page)) {
            c.Fault(where + ".replies",
                    "should be a list of " + std::to_string(ReadsOf(page)) + " replies");
        } else {
            for (size_t i = 0; i < replies.size(); ++i) {
                const std::string at = where + ".replies[" + std::to_string(i) + "]";
                TReplyBytes r;
                if (!c.Reply(replies[i], at, r)) {
                    continue;
                }
                if (!ReplyFits(page, i, r)) {
                    c.Fault(at, "is not the answer to read " + std::to_string(i + 1) + " of " +
                                    std::string(page.Id));
                    continue;
                }
                pc.Replies.push_back(r);
            }
        }
    }
    config.Pages.push_back(std::move(pc));
}

void ReadMemory(TChecker& c, const TJson& j, const std::string& where, std::set<int>& numbers,
                TCameraConfig& config) {
    if (!c.Object(j, where, {"number", "settings", "reply"})) {
        return;
    }
    TMemoryConfig m;
    if (!j.contains("number") || !j["number"].is_number_integer() ||
        j["number"].get<int64_t>() < kMemoryMin || j["number"].get<int64_t>() > kMemoryMax) {
        c.Fault(where + ".number", "should be a whole number in " + std::to_string(kMemoryMin) +
                                       " ... " + std::to_string(kMemoryMax));
        return;
    }
    m.Number = j["number"].get<int>();
    if (!numbers.insert(m.Number).second) {
        c.Fault(where + ".number", "memory " + std::to_string(m.Number) + " comes twice");
    }
    m.Fields = c.Settings(
        j.contains("settings") ? j["settings"] : TJson::object(), where + ".settings",
        [](const TSetting& s) { return IsRecordField(s); }, "a position memory");
    if (m.Fields.size() != CatalogueRecordFields().size() && !j.contains("reply")) {
        std::vector<std::string> names;
        for (const TSetting* f : CatalogueRecordFields()) {
            names.emplace_back(f->Id);
        }
        c.Fault(where + ".settings", "a memory is saved whole: it needs " + JoinTexts(names, ", "));
    }
    if (j.contains("reply")) {
        TReplyBytes r;
        if (c.Reply(j["reply"], where + ".reply", r)) {
            if (r[1] != kDataReply || r[2] != kGroupPosition || r[3] == 0 || r[4] != m.Number) {
                c.Fault(where + ".reply",
                        "is not the record of memory " + std::to_string(m.Number));
            } else {
                m.Reply = r;
            }
        }
    }
    config.Memories.push_back(std::move(m));
}

}  // namespace

bool InBackup(const TSetting& s) {
    return s.ReplyByte >= 0 && !s.Action && s.Kind != TSettingKind::Command &&
           s.Kind != TSettingKind::Record && !IsRecordField(s);
}

bool Restorable(const TSetting& s) {
    return InBackup(s) && s.Item >= 0;
}

std::string ValueInFile(const TSetting& s, const TValue& v) {
    std::string t = ValueText(s, v);
    if (s.Kind == TSettingKind::Text) {
        t.erase(t.find_last_not_of(' ') + 1);
    }
    return t;
}

std::vector<TJobStep> ReadSteps(const std::vector<const TPageDef*>& pages, int firstMemory,
                                int lastMemory) {
    std::vector<const TPageDef*> all = pages;
    if (all.empty()) {
        for (const TPageDef& p : CataloguePages()) {
            all.push_back(&p);
        }
    }
    std::vector<TJobStep> steps;
    for (const TPageDef* page : all) {
        if (page->Group == kGroupTitle) {
            for (int p = 0; p < kTitleParts; ++p) {
                steps.push_back(
                    QueryStep(*page, kItemTitleText, static_cast<uint8_t>(p), kItemTitleText, p));
                steps.back().What += " part " + std::to_string(p);
            }
            steps.push_back(QueryStep(*page, kItemTitleDisplay, 0, kItemTitleDisplay));
            steps.back().What += " display and position";
        } else {
            steps.push_back(QueryStep(*page, 0, 0, page->Group == kGroupPosition ? 0 : kAnyForm));
        }
    }
    for (int n = firstMemory; n <= lastMemory; ++n) {
        steps.push_back(MemoryStep(n));
    }
    return steps;
}

std::vector<TJobStep> ReadStepsFor(const TCameraConfig& config) {
    std::vector<const TPageDef*> pages;
    for (const TPageConfig& p : config.Pages) {
        pages.push_back(p.Page);
    }
    std::vector<TJobStep> steps = pages.empty() ? std::vector<TJobStep>{} : ReadSteps(pages, 1, 0);
    for (const TMemoryConfig& m : config.Memories) {
        steps.push_back(MemoryStep(m.Number));
    }
    return steps;
}

TCameraConfig ConfigFromReplies(const std::vector<TJobStep>& steps,
                                const std::vector<TReplyBytes>& replies) {
    TCameraConfig config;
    for (size_t i = 0; i < steps.size() && i < replies.size(); ++i) {
        const TJobStep& step = steps[i];
        const TReplyBytes& r = replies[i];
        if (step.Memory >= 0) {
            if (r[3] == 0) {
                continue;  // no such memory: the camera gave its general state
            }
            TMemoryConfig m;
            m.Number = step.Memory;
            m.Reply = r;
            for (const TDecoded& d : DecodeReply(r.data(), r.size())) {
                if (IsRecordField(*d.Setting)) {
                    m.Fields.emplace_back(d.Setting, d.Value);
                }
            }
            config.Memories.push_back(std::move(m));
            continue;
        }
        if (step.Page == nullptr) {
            continue;
        }
        if (config.Pages.empty() || config.Pages.back().Page != step.Page) {
            config.Pages.push_back({step.Page, {}, {}});
        }
        config.Pages.back().Replies.push_back(r);
    }
    for (TPageConfig& page : config.Pages) {
        for (const TSetting* s : page.Page->Settings) {
            if (!InBackup(*s)) {
                continue;
            }
            if (s->Kind == TSettingKind::Text) {
                TValue v;
                v.Text = TitleText(page.Replies);
                page.Values.emplace_back(s, std::move(v));
            } else if (ReplyIndex(*page.Page, *s) < page.Replies.size()) {
                if (const auto v = Decoded(*s, page.Replies[ReplyIndex(*page.Page, *s)])) {
                    page.Values.emplace_back(s, *v);
                }
            }
        }
    }
    return config;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    // The link's thread is the only caller.
    const std::tm* utc = std::gmtime(&now);
    char text[32] = "";
    if (utc != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    return text;
}

std::string ConfigToJson(const TCameraConfig& config) {
    TJson j;
    j["format"] = kBackupFormat;
    j["schema"] = config.Schema;
    j["time"] = config.Time;
    j["device"] = config.Device;
    TJson pages = TJson::object();
    for (const TPageConfig& p : config.Pages) {
        TJson page;
        page["settings"] = SettingsJson(p.Values);
        TJson replies = TJson::array();
        for (const TReplyBytes& r : p.Replies) {
            replies.push_back(HexOf(r));
        }
        page["replies"] = replies;
        pages[std::string(p.Page->Id)] = page;
    }
    j["pages"] = pages;
    TJson memories = TJson::array();
    for (const TMemoryConfig& m : config.Memories) {
        TJson memory;
        memory["number"] = m.Number;
        memory["settings"] = SettingsJson(m.Fields);
        if (m.Reply) {
            memory["reply"] = HexOf(*m.Reply);
        }
        memories.push_back(memory);
    }
    j["memories"] = memories;
    return j.dump(2) + "\n";
}

namespace {

// A library exception's own words, without its "[json.exception...] " tag.
std::string JsonReason(const std::exception& e) {
    const std::string what = e.what();
    const size_t cut = what.find("] ");
    return cut == std::string::npos ? what : what.substr(cut + 2);
}

bool CheckedConfig(const std::string& text, TCameraConfig& config, std::string& error) {
    TJson j;
    try {
        j = TJson::parse(text);
    } catch (const TJson::parse_error& e) {
        error = "not a JSON file: " + JsonReason(e);
        return false;
    }
    TChecker c;
    TCameraConfig out;
    if (!c.Object(j, "the file", {"format", "schema", "time", "device", "pages", "memories"})) {
        error = c.Text();
        return false;
    }
    if (!j.contains("format") || j["format"] != kBackupFormat) {
        error = std::string("not a camera settings file: \"format\" should be \"") + kBackupFormat +
                "\"";
        return false;
    }
    if (!j.contains("schema") || !j["schema"].is_number_integer() ||
        j["schema"].get<int64_t>() < 1) {
        error = "\"schema\" should be a whole number from 1";
        return false;
    }
    if (j["schema"].get<int64_t>() > kBackupSchema) {
        error = "written for schema " + std::to_string(j["schema"].get<int64_t>()) +
                ", newer than this program reads (" + std::to_string(kBackupSchema) +
                "): use a newer zoompanel";
        return false;
    }
    out.Schema = j["schema"].get<int>();
    for (const char* key : {"time", "device"}) {
        if (j.contains(key) && !j[key].is_string()) {
            c.Fault(key, "should be a text");
        }
    }
    if (!c.Ok()) {
        error = c.Text();
        return false;
    }
    out.Time = j.value("time", std::string());
    out.Device = j.value("device", std::string());
    if (j.contains("pages") && !j["pages"].is_object()) {
        c.Fault("pages", "should be an object of pages");
    } else if (j.contains("pages")) {
        // Tab order, whatever the file's; unknown pages named.
        for (const TPageDef& page : CataloguePages()) {
            if (j["pages"].contains(page.Id)) {
                ReadPage(c, page, j["pages"][std::string(page.Id)], "pages." + std::string(page.Id),
                         out);
            }
        }
    }
    if (j.contains("pages") && j["pages"].is_object()) {
        for (const auto& item : j["pages"].items()) {
            const TPageDef* page = FindPage(item.key());
            if (page == nullptr || page->Id != item.key()) {
                std::vector<std::string> ids;
                for (const TPageDef& p : CataloguePages()) {
                    ids.emplace_back(p.Id);
                }
                c.Fault("pages",
                        "unknown page \"" + item.key() + "\"; pages: " + JoinTexts(ids, ", "));
            }
        }
    }
    if (j.contains("memories")) {
        if (!j["memories"].is_array()) {
            c.Fault("memories", "should be a list");
        } else {
            std::set<int> numbers;
            for (size_t i = 0; i < j["memories"].size(); ++i) {
                ReadMemory(c, j["memories"][i], "memories[" + std::to_string(i) + "]", numbers,
                           out);
            }
            std::sort(out.Memories.begin(), out.Memories.end(),
                      [](const auto& a, const auto& b) { return a.Number < b.Number; });
        }
    }
    if (!c.Ok()) {
        error = c.Text();
        return false;
    }
    config = std::move(out);
    return true;
}

}  // namespace

bool ConfigFromJson(const std::string& text, TCameraConfig& config, std::string& error) {
    try {
        return CheckedConfig(text, config, error);
    } catch (const nlohmann::json::exception& e) {
        // A type the checks did not foresee: a fault of the file all the same.
        error = "the file does not fit: " + JsonReason(e);
        return false;
    }
}

std::vector<TJobStep> RestoreSteps(const TCameraConfig& config) {
    std::vector<TJobStep> steps;
    std::optional<int> saveNumber;
    for (const TPageConfig& page : config.Pages) {
        const std::vector<TReplyBytes> expected = ExpectedReplies(page);
        std::set<const TSetting*> present;
        for (const auto& [s, v] : page.Values) {
            if (Restorable(*s)) {
                present.insert(s);
            }
            if (s->Id == "position.save_number") {
                saveNumber = v.Number;
            }
        }
        std::set<const TSetting*> sent;
        const auto send = [&](const TSetting& s) {
            if (!present.count(&s) || !sent.insert(&s).second) {
                return;
            }
            if (s.Kind == TSettingKind::Text) {
                for (size_t p = 0; p < static_cast<size_t>(kTitleParts); ++p) {
                    const TReplyBytes& r = expected[p];
                    TJobStep step;
                    step.Payload = {kSet, s.Group, static_cast<uint8_t>(s.Item),
                                    static_cast<uint8_t>(p)};
                    step.Payload.insert(step.Payload.end(), r.begin() + 5, r.begin() + 15);
                    step.What = std::string(s.Id) + " part " + std::to_string(p);
                    step.Page = page.Page;
                    steps.push_back(std::move(step));
                }
                return;
            }
            const TReplyBytes& r = expected[ReplyIndex(*page.Page, s)];
            steps.push_back(SetStep(s, r, std::string(s.Id) + " := " + Described(s, r)));
        };
        const auto sendAll = [&](const std::vector<std::string_view>& ids) {
            for (std::string_view id : ids) {
                send(*FindSetting(id));
            }
        };
        for (const TSetting* s : page.Page->Settings) {
            const auto lock =
                std::find_if(CatalogueInterlocks().begin(), CatalogueInterlocks().end(),
                             [&](const TInterlock& l) { return l.Mode == s->Id; });
            if (lock == CatalogueInterlocks().end() || !present.count(s)) {
                send(*s);
                continue;
            }
            // The levels the file's mode does not use first, in the mode that
            // takes them; then the mode as the file has it, and its levels.
            const bool on = RawField(*s, expected[ReplyIndex(*page.Page, *s)])[0] != 0;
            const std::vector<std::string_view>& others = on ? lock->WhenOff : lock->WhenOn;
            if (std::any_of(others.begin(), others.end(),
                            [&](std::string_view id) { return present.count(FindSetting(id)); })) {
                steps.push_back(ModeStep(*s, on ? 0 : 1));
                sendAll(others);
            }
            send(*s);
            sendAll(on ? lock->WhenOn : lock->WhenOff);
        }
    }
    std::vector<const TMemoryConfig*> memories;
    for (const TMemoryConfig& m : config.Memories) {
        memories.push_back(&m);
    }
    // Saving sets the camera's save number: the file's goes last.
    std::stable_partition(memories.begin(), memories.end(),
                          [&](const TMemoryConfig* m) { return m->Number != saveNumber; });
    const TSetting& save = *FindSetting("position.save");
    for (const TMemoryConfig* m : memories) {
        TValue v;
        v.Number = m->Number;
        v.Area = ExpectedRecord(*m);
        TJobStep step;
        step.Payload = EncodeSet(save, v);
        step.What = "save memory " + std::to_string(m->Number);
        step.Memory = m->Number;
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<std::string> Differences(const TCameraConfig& wanted, const TCameraConfig& now) {
    std::vector<std::string> out;
    for (const TPageConfig& page : wanted.Pages) {
        const auto found = std::find_if(now.Pages.begin(), now.Pages.end(),
                                        [&](const TPageConfig& p) { return p.Page == page.Page; });
        if (found == now.Pages.end() || found->Replies.size() != ReadsOf(*page.Page)) {
            out.push_back(std::string(page.Page->Id) + ": not read back");
            continue;
        }
        const std::vector<TReplyBytes> expected = ExpectedReplies(page);
        for (const auto& [s, v] : page.Values) {
            if (!Restorable(*s)) {
                continue;
            }
            if (s->Kind == TSettingKind::Text) {
                for (size_t p = 0; p < static_cast<size_t>(kTitleParts); ++p) {
                    if (RawField(*s, expected[p]) != RawField(*s, found->Replies[p])) {
                        out.push_back(std::string(s->Id) + ": expected \"" + Padded(v.Text) +
                                      "\", the camera has \"" + TitleText(found->Replies) + "\"");
                        break;
                    }
                }
                continue;
            }
            const size_t i = ReplyIndex(*page.Page, *s);
            if (RawField(*s, expected[i]) != RawField(*s, found->Replies[i])) {
                out.push_back(std::string(s->Id) + ": expected " + Described(*s, expected[i]) +
                              ", the camera has " + Described(*s, found->Replies[i]));
            }
        }
    }
    for (const TMemoryConfig& m : wanted.Memories) {
        const std::string name = "memory " + std::to_string(m.Number);
        const auto found =
            std::find_if(now.Memories.begin(), now.Memories.end(),
                         [&](const TMemoryConfig& n) { return n.Number == m.Number; });
        if (found == now.Memories.end() || !found->Reply) {
            out.push_back(name + ": the camera gave no record");
            continue;
        }
        const std::array<uint8_t, 6> record = ExpectedRecord(m);
        if (!std::equal(record.begin(), record.end(), found->Reply->begin() + 5)) {
            out.push_back(name + ": expected record " + BytesToHex(record.data(), 6, " ") +
                          ", the camera has " + BytesToHex(found->Reply->data() + 5, 6, " "));
        }
    }
    return out;
}

}  // namespace zp
