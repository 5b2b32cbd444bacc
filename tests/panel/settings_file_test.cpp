// File > Save and Load camera settings, end to end: the window against
// virtual cameras that take a level only while its mode uses it.

#include <QAction>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/panel/e2e_fixture.h"

namespace zp::test {
namespace {

using camera::TFault;

constexpr int kMemories = 3;

// Every page away from the factory settings, each level its own.
camera::TCameraState ChangedState() {
    camera::TCameraState s;
    s.title = {camera::TitleCodes("PORCH CAM 2"), 1, 1};
    s.lens.zoomStep = 0x0123;
    s.lens.focusStep = 0x0045;
    s.lens.digitalZoom = 1;
    s.lens.autoFocus = 0;
    s.gain = {1, 3, 6};
    s.exposure = {1, 2, 6, 0, 5, 3};
    s.backLight = {1, 5, {0x01, 0x02, 0x04, 0x08, 0x10, 0x20}};
    s.colour = {1, 2, 6, 3, 5};
    s.aperture = {3, 9};
    s.motion = {1, 7, {0xF0, 0x0F, 0xAA, 0x55, 0x00, 0xFF}, 2, 1};
    s.position.alarmNumber = 2;
    s.position.saveNumber = 2;
    for (uint8_t n = 1; n <= kMemories; ++n) {
        s.position.records[n] = {static_cast<uint16_t>(0x0111 * n),
                                 static_cast<uint16_t>(0x20 * n),
                                 static_cast<uint8_t>(n % 2),
                                 0,
                                 1,
                                 1,
                                 n,
                                 static_cast<uint8_t>(8 - n),
                                 static_cast<uint8_t>(n + 4)};
    }
    s.other = {0, 0, 1, 0, 1, 1, 40};
    return s;
}

// What a restore sets.
std::vector<int> Restorable(const camera::TCameraState& s) {
    const auto& e = s.exposure;
    const auto& c = s.colour;
    const auto& o = s.other;
    std::vector<int> v(s.title.codes.begin(), s.title.codes.end());
    v.insert(v.end(), {s.title.display,
                       s.title.position,
                       s.lens.zoomStep,
                       s.lens.focusStep,
                       s.lens.digitalZoom,
                       s.lens.autoFocus,
                       s.gain.priority,
                       s.gain.agcLevel,
                       s.gain.sensLevel,
                       e.alc,
                       e.alcAutoLevel,
                       e.alcFixLevel,
                       e.aes,
                       e.aesAutoLevel,
                       e.aesFixLevel,
                       s.backLight.on,
                       s.backLight.level,
                       c.mode,
                       c.autoLevel,
                       c.onePushLevel,
                       c.ryGain,
                       c.byGain,
                       s.aperture.hGain,
                       s.aperture.vGain,
                       s.motion.detect,
                       s.motion.level,
                       s.motion.time,
                       s.motion.osd,
                       s.position.saveNumber,
                       s.position.alarmNumber,
                       o.hReverse,
                       o.vReverse,
                       o.negative,
                       o.phase,
                       o.phaseLevel});
    v.insert(v.end(), s.backLight.mask.begin(), s.backLight.mask.end());
    v.insert(v.end(), s.motion.mask.begin(), s.motion.mask.end());
    for (int n = 1; n <= kMemories; ++n) {
        const auto& r = s.position.records[static_cast<size_t>(n)];
        v.insert(v.end(), {r.zoom, r.focus, r.Byte9(), r.Byte10()});
    }
    return v;
}

// A settings file without what differs from one save to the next.
QJsonObject Settings(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_TRUE(o.contains("time") && o.contains("device")) << path.toStdString();
    o.remove("time");
    o.remove("device");
    return o;
}

class SettingsFile : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        ASSERT_TRUE(dir.isValid());
        startOptions.firstMemory = 1;
        startOptions.lastMemory = kMemories;
        startOptions.chooseSettingsFile = [this](bool, const QString&) {
            choseInAPause = choseInAPause || Pausing();
            return chosen;
        };
        camera.SetInterlocks(true);
        camera.SetState(ChangedState());
    }

    QString File(const char* name) const { return dir.filePath(name); }
    bool WaitJob() {
        return WaitFor([&] { return !form->JobRunning(); }, 20000);
    }
    QString Save(const char* name) {
        form->SaveCameraSettings(File(name));
        EXPECT_TRUE(WaitJob());
        EXPECT_TRUE(WaitIdle());
        return form->LastJobResult();
    }

    QTemporaryDir dir;
    QString chosen;  // what the file dialog answers
    bool choseInAPause = false;
};

TEST_F(SettingsFile, MenuComesFirstAndAJobWaitsForTheLink) {
    Open();
    QList<QAction*> menus = form->menuBar()->actions();
    ASSERT_GE(menus.size(), 2);
    EXPECT_EQ(menus[0]->menu(), form->FileMenu());
    EXPECT_EQ(menus[1]->menu(), form->PortMenu());
    const QList<QAction*> items = form->FileMenu()->actions();
    ASSERT_EQ(items.size(), 4);

    // Before the camera answers the actions are off and a save is refused.
    EXPECT_FALSE(items[0]->isEnabled());
    form->SaveCameraSettings(File("early.json"));
    EXPECT_EQ(errors, std::vector<QString>{kTextJobRefused});
    ASSERT_TRUE(WaitFor([&] { return items[0]->isEnabled(); }));
    ASSERT_TRUE(WaitIdle());
    // No file chosen, or one that cannot be written: the camera is not read.
    camera.ClearReceived();
    items[1]->trigger();
    QCoreApplication::processEvents();  // its dialog opens on the next turn
    EXPECT_EQ(Save("gone/out.json"), "Cannot write " + File("gone/out.json") +
                                         ": No such file or directory. The camera was not read.");
    EXPECT_TRUE(camera.Received().empty());
    EXPECT_FALSE(QFile::exists(File("early.json")));
}

// Saved from one camera, loaded into another and saved there again: the two
// files and the two cameras agree in all a restore sets.
TEST_F(SettingsFile, CloneOneCameraIntoAnother) {
    camera::TCameraHost b;
    b.SetInterlocks(true);
    ASSERT_TRUE(b.Start());
    ASSERT_NE(Restorable(b.State()), Restorable(camera.State()));

    OpenConnected();
    camera.ClearReceived();
    chosen = File("a.json");
    QAction* save = form->findChild<QAction*>("SaveSettingsAction");
    save->trigger();
    // A pause of the link's comes first: the dialog waits for its end rather
    // than holding the link inside it.
    PauseMs(20);
    QCoreApplication::processEvents();
    EXPECT_FALSE(choseInAPause);
    // While it runs the pages and the file actions are off, the dialog on top.
    ASSERT_TRUE(form->JobRunning());
    EXPECT_FALSE(form->PageControl1->isEnabled());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(form->JobProgress()->isVisible());
    EXPECT_EQ(form->JobProgress()->windowModality(), Qt::WindowModal);
    ASSERT_TRUE(WaitJob());
    EXPECT_EQ(form->LastJobResult(),
              QString("Saved 38 settings and %1 memories to %2.").arg(kMemories).arg(chosen));
    // The title's five reads, one for each other page, then the memories.
    EXPECT_EQ(Frames().size(), 14u + kMemories);
    EXPECT_TRUE(form->Link().Idle());
    EXPECT_TRUE(form->PageControl1->isEnabled());

    form.reset();
    Use(b);
    OpenConnected();
    form->LoadCameraSettings(File("a.json"));
    ASSERT_TRUE(WaitJob());
    EXPECT_EQ(form->LastJobResult(),
              "The camera now holds every setting of " + File("a.json") + ".");
    ASSERT_TRUE(WaitIdle());
    Save("b.json");
    form.reset();

    EXPECT_EQ(Settings(File("a.json")), Settings(File("b.json")));
    EXPECT_EQ(Restorable(b.State()), Restorable(camera.State()));
}

struct BadFileRow {
    const char* name;
    const char* text;  // nullptr: no such file
    std::vector<const char*> said;
};

class SettingsFileBad : public SettingsFile, public ::testing::WithParamInterface<BadFileRow> {};

// A file with any fault is told whole and nothing goes on the line.
TEST_P(SettingsFileBad, IsRefusedBeforeAnythingIsSent) {
    const BadFileRow& row = GetParam();
    if (row.text != nullptr) {
        QFile f(File("bad.json"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(row.text);
    }
    OpenConnected();
    camera.ClearReceived();
    form->LoadCameraSettings(File("bad.json"));
    QTest::qWait(50);
    EXPECT_TRUE(camera.Received().empty());
    for (const char* said : row.said) {
        EXPECT_TRUE(form->LastJobResult().contains(said))
            << form->LastJobResult().toStdString() << "\nlacks: " << said;
    }
    EXPECT_EQ(errors.back(), form->LastJobResult());
}

#define ZP_HEAD R"({"format": "zoompanel camera settings", "schema": 1, )"

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsFileBad,
    ::testing::Values(BadFileRow{"OneBadValue",
                                 ZP_HEAD R"("pages": {"alc": {"settings": {
                       "alc.alc": "FIX", "alc.alc_fix_level": "LOUD"}}}})",
                                 {"was not loaded; nothing was sent", "alc.alc_fix_level"}},
                      BadFileRow{"EveryFaultTold",
                                 ZP_HEAD
                                 R"("pages": {"colour": {"settings": {"colour.ry_gain": "9x"}},
                       "nope": {}}, "memories": [{"number": 500}]})",
                                 {"colour.ry_gain", "nope", "memories[0].number"}},
                      BadFileRow{"NotJson", "{\"format\": ", {"not a JSON file"}},
                      BadFileRow{"NothingToSet", ZP_HEAD R"("pages": {}})", {"holds no settings"}},
                      BadFileRow{"Missing", nullptr, {"Cannot read", "Nothing was sent"}}),
    [](const auto& row) { return std::string(row.param.name); });

// A save or load that ends early says how far it got; the link is free.
struct EarlyEndRow {
    const char* name;
    bool load;
    TFault fault;  // on the colour page's read or command; none: cancelled
    const char* said;
};

class SettingsFileEarly : public SettingsFile, public ::testing::WithParamInterface<EarlyEndRow> {};

TEST_P(SettingsFileEarly, SaysHowFarItGot) {
    const EarlyEndRow& row = GetParam();
    OpenConnected();
    const QString file = File("settings.json");
    if (row.load) {
        Save("settings.json");
        camera.SetState(camera::TCameraState());
    }
    camera.ClearReceived();
    camera.SetFaultTrigger({0x02, row.load ? uint8_t{0x21} : uint8_t{0x31}, 0x1B});
    camera.SetFault(row.fault, row.fault == TFault::None ? 0 : 1);
    camera.SetAnswerDelay(std::chrono::milliseconds(row.fault == TFault::None ? 15 : 0));
    row.load ? form->LoadCameraSettings(file) : form->SaveCameraSettings(file);
    if (row.fault == TFault::None) {
        QProgressDialog* progress = form->JobProgress();
        ASSERT_TRUE(WaitFor([&] { return progress->value() >= 5; }));
        // The load as the window's close button does, the save by its button.
        row.load ? (void)progress->close() : progress->findChild<QPushButton*>()->click();
        // It stays, saying so, until the exchange on its way is over.
        EXPECT_TRUE(progress->isVisible());
    }
    ASSERT_TRUE(WaitJob());
    const QString result = form->LastJobResult();
    const QRegularExpressionMatch m =
        QRegularExpression(QString(row.said).replace("FILE", QRegularExpression::escape(file)))
            .match(result);
    ASSERT_TRUE(m.hasMatch()) << result.toStdString();
    if (row.fault == TFault::None) {
        EXPECT_GE(m.captured(1).toInt(), 5);
        EXPECT_LT(m.captured(1).toInt(), m.captured(2).toInt());
    }
    if (!row.load) {
        EXPECT_FALSE(QFile::exists(file));
    }
    if (!row.load && row.fault == TFault::None) {
        // Every exchange counted was answered; none followed.
        EXPECT_EQ(QString::number(Frames().size()), m.captured(1));
    }
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(form->BusyCursorShown());
    EXPECT_EQ(form->PageControl1->isEnabled(), row.fault != TFault::HangUp);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsFileEarly,
    ::testing::Values(
        EarlyEndRow{"SaveCancelled", false, TFault::None,
                    R"(^Save cancelled after (\d+) of (\d+) exchanges; nothing was written\.$)"},
        EarlyEndRow{"LoadCancelled", true, TFault::None,
                    R"(^Load cancelled after (\d+) of (\d+) commands: the camera holds part of )"
                    R"(FILE\.$)"},
        EarlyEndRow{
            "SaveHungUp", false, TFault::HangUp,
            R"(^The camera settings were not saved: the line to the camera was lost \(read )"
            R"(Col\), after 9 of 17 exchanges\. Nothing was written to FILE\.$)"},
        EarlyEndRow{"LoadHungUp", true, TFault::HangUp,
                    R"(^Load failed after \d+ of \d+ commands: the line to the camera was lost )"
                    R"(\(colour\.[a-z_]+ := .*\)\. The camera holds part of FILE\.$)"}),
    [](const auto& row) { return std::string(row.param.name); });

// A read answered by ACK and ACK is sent again, rather than taking the reply
// the link still holds (the first memory's, like the one awaited).
TEST_F(SettingsFile, ReadAnsweredWithoutAReplyIsSentAgain) {
    OpenConnected();
    Save("clean.json");
    camera.SetFaultTrigger({0x02, 0x31, 0x52, 0x01, 0x02});
    camera.SetFault(TFault::AckInsteadOfReply, 1);
    EXPECT_TRUE(Save("faulty.json").startsWith("Saved 38 settings"))
        << form->LastJobResult().toStdString();
    EXPECT_EQ(Settings(File("clean.json")), Settings(File("faulty.json")));
}

// After a malformed answer the link is checked again and the read sent again;
// when that goes unanswered it is timed and sent again like any other.
TEST_F(SettingsFile, ReadSentAgainAfterALinkCheckIsTimed) {
    camera::TCameraHost host;
    host.SetObserver([&host](const camera::TExchange& ex) {
        if (ex.fault == TFault::MalformedEnd) {
            host.SetFault(TFault::Silent, 1);
        }
    });
    ASSERT_TRUE(host.Start());
    Use(host);
    OpenConnected();
    host.SetFaultTrigger({0x02, 0x31, 0x1B});
    host.SetFault(TFault::MalformedEnd, 1);
    EXPECT_TRUE(Save("out.json").startsWith("Saved 38 settings"))
        << form->LastJobResult().toStdString();
    form.reset();
}

}  // namespace
}  // namespace zp::test
