// Writes a picture of each control, as the pages will use them, into
// docs/widgets/ (or the folder given as the first argument). Run with
// QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/spin_edit.h"
#include "panel/widgets/title_picture.h"
#include "panel/widgets/track_bar.h"

namespace {

QString g_dir;
int g_failures = 0;

void Save(QWidget& w, const QString& name) {
    w.show();
    QApplication::processEvents();
    const QString path = g_dir + "/" + name + ".png";
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "widgets_screens: cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

QStringList Levels(const QString& first, int plus, const QString& last) {
    QStringList items{first};
    for (int i = 1; i <= plus; ++i) {
        items << QString("+%1").arg(i);
    }
    return items << last;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    g_dir = argc > 1 ? argv[1] : "docs/widgets";
    QDir().mkpath(g_dir);

    {
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* display = new zp::TRadioGroup("Display", {"OFF", "ON"}, 2);
        display->SetItemIndex(1);
        auto* level = new zp::TRadioGroup("AGC Level", Levels("BASE", 7, "MAX"), 1);
        level->SetItemIndex(5);
        auto* none = new zp::TRadioGroup("Priority", {"AGC", "SENS"}, 2);
        layout->addWidget(display);
        layout->addWidget(none);
        layout->addWidget(level);
        w.resize(200, 0);
        Save(w, "radio_groups");
    }
    {
        zp::TRadioGroup phase("Level", Levels("MIN", 14, "MAX"), 2);
        phase.SetItemIndex(8);
        Save(phase, "radio_group_16_in_2_columns");
    }
    {
        QStringList items{"OFF"};
        for (int i = 1; i <= 64; ++i) {
            items << QString::number(i);
        }
        zp::TRadioGroup load("Position Load", items, 5);
        load.SetItemIndex(64);
        load.resize(300, 0);
        Save(load, "radio_group_65_in_5_columns");
    }
    {
        zp::TRadioGroup disabled("FIX Level", Levels("MIN", 7, "MAX"), 1);
        disabled.SetItemIndex(3);
        disabled.setEnabled(false);
        Save(disabled, "radio_group_disabled");
    }
    {
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* zoom = new zp::TTrackBar(0, 1954, 200);
        zoom->SetPosition(1200);
        auto* focus = new zp::TTrackBar(-206, 250, 50);
        focus->SetPosition(0);
        auto* dzoom = new zp::TCheckBox("Digital Zoom");
        dzoom->SetChecked(true);
        auto* af = new zp::TCheckBox("Auto Focus");
        af->setEnabled(false);
        auto* step = new QLineEdit("-001");
        step->setReadOnly(true);
        step->setMaxLength(4);
        layout->addWidget(new QLabel("0 ... 1954, ticks every 200, at 1200"));
        layout->addWidget(zoom);
        layout->addWidget(new QLabel("-206 ... 250, ticks every 50, at 0"));
        layout->addWidget(focus);
        layout->addWidget(dzoom);
        layout->addWidget(af);
        layout->addWidget(step);
        w.resize(320, 0);
        Save(w, "track_bars_check_boxes_edit");
    }
    {
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* good = new zp::TSpinEdit(0, 100, 1);
        good->SetValue(42);
        auto* bad = new zp::TSpinEdit(0, 100, 1);
        bad->SetValue(7);
        bad->SetText("250");
        auto* top = new zp::TSpinEdit(0, 100, 100);
        layout->addWidget(new QLabel("42"));
        layout->addWidget(good);
        layout->addWidget(new QLabel("typed 250: 7 stays in force"));
        layout->addWidget(bad);
        layout->addWidget(new QLabel("at 100: up disabled"));
        layout->addWidget(top);
        Save(w, "spin_edits");
    }
    {
        zp::TAreaGrid grid("BLCCheck", "BLC");
        grid.SetMask({0x01, 0x00, 0x3C, 0x3C, 0x00, 0x80});
        Save(grid, "area_grid");
        grid.setEnabled(false);
        Save(grid, "area_grid_disabled");
    }
    {
        zp::TTitlePicture picture;
        Save(picture, "title_picture");
        const QString path = g_dir + "/title_picture_x4.png";
        if (!zp::TTitlePicture::Picture().scaled(97 * 4, 166 * 4).save(path)) {
            ++g_failures;
        }
    }
    return g_failures == 0 ? 0 : 1;
}
