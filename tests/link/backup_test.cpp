// Backups end to end in one process: the link and a job against virtual
// cameras, no line and no pauses; and every kind of bad file refused.
#include "link/backup.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "camera/virtual_camera.h"
#include "link/camera_job.h"

namespace zp {
namespace {

using camera::TCameraState;
using camera::TVirtualCamera;

// The link, a job and a camera, joined without a line: what the link writes
// the camera answers, and the answer is handed back at once.
class TRig : private ILinkPort, private ILinkWindow {
  public:
    explicit TRig(TVirtualCamera& cam)
        : camera_(cam), link_(*this, *this, [](int) {}), job_(link_) {
        link_.CheckLink();
        Pump();
    }

    // Runs the steps; the camera's silence counts as the reply timer running out.
    bool Run(const std::vector<TJobStep>& steps) {
        Start(steps);
        for (int turns = 0; job_.Running() && turns < 100; ++turns) {
            Turn();
        }
        return job_.Succeeded();
    }
    void Start(const std::vector<TJobStep>& steps) { job_.Start(steps); }
    void Turn() {
        if (!Pump()) {
            link_.ReplyTimeout();
        }
    }
    const TCameraJob& Job() const { return job_; }
    TCameraConfig Read(const std::vector<TJobStep>& steps) {
        EXPECT_TRUE(Run(steps)) << job_.Error();
        return ConfigFromReplies(steps, job_.Replies());
    }
    size_t Frames() const { return frames_; }

  private:
    bool Pump() {
        bool any = false;
        while (!answer_.empty()) {
            any = true;
            pending_.swap(answer_);
            link_.Comm1RxChar(static_cast<int32_t>(pending_.size()));
        }
        return any;
    }
    bool IsOpen() override { return true; }
    void Open() override {}
    void Close() override {}
    void SetPortNum(int32_t) override {}
    void SetUserBaudrate(int32_t) override {}
    int32_t TransmitData(const void* data, int32_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        frames_ += count == kFrameSize ? 1 : 0;
        for (const camera::TExchange& ex : camera_.Feed(p, static_cast<size_t>(count))) {
            answer_.append(ex.out.begin(), ex.out.end());
        }
        return count;
    }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override {
        std::string s;
        s.swap(pending_);
        return s;
    }
    void SetStatusText(int, const std::string&) override {}
    void ShowHourglass() override {}
    void RestoreCursor() override {}
    void EnablePageControl() override {}
    void QueryActivePage() override { job_.Resend(); }
    void RouteReplyToPage() override { job_.TakeReply(); }
    void StartReplyTimer(int) override {}
    void ReportError(const std::string&) override {}

    TVirtualCamera& camera_;
    TCameraLink link_;
    TCameraJob job_;
    std::string answer_, pending_;
    size_t frames_ = 0;
};

// A camera whose settings differ from the factory's on every page, some in
// ways a decoded value cannot say: a phase level past the last item, an AES
// level past its items, a title code no character has.
TCameraState Odd() {
    TCameraState s;
    s.title.codes = camera::TitleCodes("GATE 2");
    s.title.codes[7] = 0x0150;
    s.title.display = 1;
    s.lens.zoomStep = 0xFFFF;
    s.lens.digitalZoom = 1;
    s.gain = {1, 3, 6};
    s.exposure = {1, 2, 6, 0, 1, 9};
    s.backLight = {1, 2, {1, 2, 3, 4, 5, 0xFF}};
    s.colour = {1, 2, 6, 1, 7};
    s.aperture = {9, 0};
    s.motion = {1, 3, {0xF0, 0, 0, 0, 0, 0x0F}, 2, 1};
    s.position.alarmNumber = 7;
    s.position.saveNumber = 2;
    s.position.records[2].zoom = 0x7B;
    s.position.records[2].agcLevel = 15;  // past "MAX"
    s.other = {0, 0, 1, 0, 1, 1, 20};
    return s;
}

TEST(Backup, ACloneHoldsTheSameReplyBytesThroughTheInterlocks) {
    TVirtualCamera a, b;
    a.State() = Odd();
    b.SetInterlocks(true);
    TRig ra(a), rb(b);
    TCameraConfig saved = ra.Read(ReadSteps({}, 1, 3));
    saved.Time = "2026-12-11T00:00:00Z";
    saved.Device = "/dev/ttyUSB0";
    TCameraConfig file;
    std::string error;
    ASSERT_TRUE(ConfigFromJson(ConfigToJson(saved), file, error)) << error;
    EXPECT_EQ(ConfigToJson(file), ConfigToJson(saved));

    const std::vector<TJobStep> sets = RestoreSteps(file);
    ASSERT_TRUE(rb.Run(sets)) << rb.Job().Error();
    const TCameraConfig now = rb.Read(ReadStepsFor(file));
    EXPECT_EQ(Differences(file, now), std::vector<std::string>{});

    const TCameraState& want = a.State();
    const TCameraState& got = b.State();
    EXPECT_EQ(got.title.codes, want.title.codes);
    EXPECT_EQ(got.other.phaseLevel, 20);
    EXPECT_EQ(got.exposure.aesFixLevel, 7) << "past its items, restored as the last one";
    EXPECT_EQ(got.exposure.alcAutoLevel, want.exposure.alcAutoLevel);
    EXPECT_EQ(got.colour.autoLevel, want.colour.autoLevel);
    EXPECT_EQ(got.backLight.mask, want.backLight.mask);
    EXPECT_EQ(got.backLight.on, want.backLight.on);
    EXPECT_EQ(got.motion.time, want.motion.time);
    EXPECT_EQ(got.lens.zoomStep, 0xFFFF);
    EXPECT_EQ(got.position.records[2], want.position.records[2]);
    EXPECT_EQ(got.position.saveNumber, 2) << "the memory it names is saved last";
    EXPECT_EQ(got.lens.zoomPosition, 0) << "a lens position is never restored";

    // Changed behind the file's back: the comparison names it.
    b.State().colour.byGain = 2;
    const TCameraConfig changed = rb.Read(ReadStepsFor(file));
    EXPECT_EQ(Differences(file, changed),
              std::vector<std::string>{"colour.by_gain: expected +7 (07), the camera has +2 (02)"});
}

TEST(Backup, AJobEndsOnAFaultAndSaysWhere) {
    struct Row {
        camera::TFault fault;
        int count;
        camera::TFault then;     // on the exchange after the first fault's
        const char* error;       // empty: the link's retries carry it through
        camera::TBytes on = {};  // the fault waits for a frame that begins so
    };
    using camera::TFault;
    for (const Row& row : std::vector<Row>{
             {TFault::Silent, -1, TFault::None, "No answer from camera (read Col)"},
             {TFault::WrongGroup, 2, TFault::None, ""},
             {TFault::Nak, 1, TFault::None, ""},
             // The read sent again after the link check goes unanswered too.
             {TFault::MalformedEnd, 1, TFault::Silent, ""},
             // A second ACK instead of the reply: the parser still holds the
             // last one, which must not pass for this read's.
             {TFault::AckInsteadOfReply, 1, TFault::None, "", {0x02, 0x31, 0x52, 0x01, 0x02}},
         }) {
        TVirtualCamera cam;
        cam.State().position.records[2].zoom = 0x0222;
        TRig rig(cam);
        cam.SetFault(row.fault, row.count);
        cam.SetFaultTrigger(row.on);
        const std::vector<TJobStep> steps = ReadSteps({FindPage("colour")}, 1, 2);
        bool thenSet = row.then == TFault::None;
        const bool ok = [&] {
            rig.Start(steps);
            for (int turns = 0; rig.Job().Running() && turns < 100; ++turns) {
                if (!thenSet && cam.Fault() == TFault::None) {
                    cam.SetFault(row.then, 1);
                    thenSet = true;
                }
                rig.Turn();
            }
            return rig.Job().Succeeded();
        }();
        const std::string name = camera::FaultName(row.fault);
        EXPECT_EQ(ok, std::string(row.error).empty()) << name << ": " << rig.Job().Error();
        EXPECT_EQ(rig.Job().Error(), row.error) << name;
        if (ok) {
            const TCameraConfig c = ConfigFromReplies(steps, rig.Job().Replies());
            ASSERT_EQ(c.Memories.size(), 2u) << name;
            for (const TMemoryConfig& m : c.Memories) {
                EXPECT_EQ((*m.Reply)[4], m.Number) << name << ": another memory's record";
            }
        }
    }
}

// A good file to spoil: one page and one memory of a factory camera.
nlohmann::ordered_json GoodFile() {
    TVirtualCamera cam;
    TRig rig(cam);
    const TCameraConfig c = rig.Read(ReadSteps({FindPage("colour"), FindPage("title")}, 2, 2));
    return nlohmann::ordered_json::parse(ConfigToJson(c));
}

TEST(Backup, EveryBadFileIsRefusedWithItsReason) {
    using TJson = nlohmann::ordered_json;
    struct Row {
        const char* name;
        std::function<void(TJson&)> spoil;
        const char* error;
    };
    const auto settings = [](TJson& j) -> TJson& { return j["pages"]["colour"]["settings"]; };
    const std::vector<Row> rows{
        {"wrong format", [](TJson& j) { j["format"] = "other"; }, "not a camera settings file"},
        {"newer schema", [](TJson& j) { j["schema"] = 2; }, "schema 2, newer than this program"},
        {"schema text", [](TJson& j) { j["schema"] = "1"; }, "\"schema\" should be a whole number"},
        {"unknown key", [](TJson& j) { j["extra"] = 1; }, "the file: unknown key \"extra\""},
        {"time not a text", [](TJson& j) { j["time"] = 5; }, "time: should be a text"},
        {"device null", [](TJson& j) { j["device"] = nullptr; }, "device: should be a text"},
        {"pages a list", [](TJson& j) { j["pages"] = TJson::array(); },
         "pages: should be an object"},
        {"unknown key in a page", [](TJson& j) { j["pages"]["colour"]["values"] = 1; },
         "pages.colour: unknown key \"values\""},
        {"settings a list", [](TJson& j) { j["pages"]["colour"]["settings"] = TJson::array({1}); },
         "should be an object of \"identifier\": \"value\""},
        {"memories an object", [](TJson& j) { j["memories"] = TJson::object(); },
         "memories: should be a list"},
        {"memory number a text", [](TJson& j) { j["memories"][0]["number"] = "2"; },
         "should be a whole number in 0 ... 100"},
        {"unknown page", [](TJson& j) { j["pages"]["zoom"] = TJson::object(); },
         "unknown page \"zoom\"; pages: title, lens"},
        {"unknown setting", [&](TJson& j) { settings(j)["colour.hue"] = "1"; },
         "unknown setting \"colour.hue\"; colour has: colour.white_balance"},
        {"setting of another page", [&](TJson& j) { settings(j)["alc.alc"] = "FIX"; },
         "\"alc.alc\": not a setting of page colour"},
        {"an action", [](TJson& j) { j["pages"]["other"]["settings"]["other.preset"] = "OK"; },
         "\"other.preset\": not a setting of page other that a backup holds"},
        {"bad value", [&](TJson& j) { settings(j)["colour.ry_gain"] = "+9"; },
         "R-Y Gain: no item \"+9\"; one of: MIN, +1"},
        {"value not a text", [&](TJson& j) { settings(j)["colour.ry_gain"] = 3; },
         "the value should be a text"},
        {"title too long",
         [](TJson& j) { j["pages"]["title"]["settings"]["title.text"] = std::string(21, 'A'); },
         "longer than 20 characters"},
        {"a reply too few", [](TJson& j) { j["pages"]["title"]["replies"].erase(0); },
         "should be a list of 5 replies"},
        {"a reply not hexadecimal",
         [](TJson& j) { j["pages"]["colour"]["replies"][0] = "A0 1B 00 zz"; },
         "should be 15 bytes in hexadecimal"},
        {"a reply of another group",
         [](TJson& j) {
             j["pages"]["colour"]["replies"][0] = "A0 48 00 00 00 00 00 00 00 00 00 00 00 00 00";
         },
         "is not the answer to read 1 of colour"},
        {"memory number", [](TJson& j) { j["memories"][0]["number"] = 101; },
         "should be a whole number in 0 ... 100"},
        {"memory twice", [](TJson& j) { j["memories"].push_back(j["memories"][0]); },
         "memory 2 comes twice"},
        {"memory without its fields",
         [](TJson& j) {
             j["memories"][0].erase("reply");
             j["memories"][0]["settings"].erase("position.zoom");
         },
         "a memory is saved whole"},
        {"memory with another's record", [](TJson& j) { j["memories"][0]["number"] = 3; },
         "is not the record of memory 3"},
    };
    for (const Row& row : rows) {
        TJson j = GoodFile();
        row.spoil(j);
        TCameraConfig c;
        std::string error;
        EXPECT_FALSE(ConfigFromJson(j.dump(), c, error)) << row.name;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.name << ": " << error;
    }
    TCameraConfig c;
    std::string error;
    EXPECT_FALSE(ConfigFromJson("{\"format\": ", c, error));
    EXPECT_EQ(error.rfind("not a JSON file: parse error at line 1", 0), 0u) << error;
    // Every fault at once, one a line.
    TJson j = GoodFile();
    settings(j)["colour.ry_gain"] = "+9";
    settings(j)["colour.by_gain"] = "+10";
    EXPECT_FALSE(ConfigFromJson(j.dump(), c, error));
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
}

}  // namespace
}  // namespace zp
