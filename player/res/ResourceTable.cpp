// The one table that maps resource numbers to the player's pictures, strings and menus.
#include "ResourceTable.h"

#include <array>

#include "Pictures.h"

namespace BrelsoRes {
namespace {

// Colours of the button icons: at rest and while the pointer is over the button.
const QColor kRestColor(85, 85, 85);
const QColor kHotColor(20, 120, 220);

struct IconEntry {
    int nId;
    Glyph glyph;
    int nSize;
    bool bHot;
};

constexpr std::array<IconEntry, 21> kIcons = {{
    {IDR_MAINFRAME, Glyph::Logo, 32, false},
    {IDI_SOUND_ON, Glyph::SpeakerOn, 24, true},
    {IDI_SOUND_OFF, Glyph::SpeakerOff, 24, true},
    {IDI_PLAY_HOT, Glyph::Play, 48, true},
    {IDI_PAUSE_REST, Glyph::Pause, 48, false},
    {IDI_PAUSE_HOT, Glyph::Pause, 48, true},
    {IDI_PLAY_REST, Glyph::Play, 48, false},
    {IDI_STOP_HOT, Glyph::Stop, 48, true},
    {IDI_STOP_REST, Glyph::Stop, 48, false},
    {IDI_SPEED_HOT, Glyph::FastForward, 48, true},
    {IDI_SPEED_REST, Glyph::FastForward, 48, false},
    {IDI_SNAPSHOT_HOT, Glyph::Camera, 48, true},
    {IDI_SNAPSHOT_REST, Glyph::Camera, 48, false},
    {IDI_RECORDING_HOT, Glyph::FilmRecording, 48, true},
    {IDI_RECORD_REST, Glyph::Film, 48, false},
    {IDI_RECORDING_REST, Glyph::FilmRecording, 48, false},
    {IDI_RECORD_HOT, Glyph::Film, 48, true},
    {IDI_OPEN_STREAM, Glyph::VideoCamera, 16, false},
    {IDI_OPEN_FILE, Glyph::Folder, 16, false},
    {147, Glyph::SpeakerOn, 24, false},
    {148, Glyph::SpeakerOff, 24, false},
}};

}  // namespace

QImage LoadIconImage(int nId) {
    for (const IconEntry& e : kIcons) {
        if (e.nId == nId) {
            return DrawIcon(e.glyph, e.nSize, e.bHot ? kHotColor : kRestColor);
        }
    }
    return {};
}

QImage LoadBitmapImage(int nId) {
    switch (nId) {
        case IDB_PROGRESS_TRACK:
            return DrawProgressTrack(false);
        case IDB_PROGRESS_FILL:
            return DrawProgressTrack(true);
        case IDB_KNOB:
            return DrawKnob(QColor(245, 245, 245));
        case IDB_KNOB_HOT:
            return DrawKnob(QColor(120, 200, 255));
        case IDB_KNOB_DISABLED:
            return DrawKnob(QColor(160, 160, 160));
        case IDB_VOLUME_TRACK:
            return DrawVolumeWedge(false);
        case IDB_VOLUME_FILL:
            return DrawVolumeWedge(true);
        case IDB_LOGO:
            return DrawLogo(128);
        default:
            return {};
    }
}

QString LoadStringResource(int nId) {
    if (nId == IDS_ABOUTBOX) {
        return QStringLiteral("关于 BrelsoPlayer(&A)...");
    }
    return {};
}

std::vector<PopupMenu> LoadMenuResource(int nId) {
    if (nId != IDR_MENU_SPEED) {
        return {};
    }
    PopupMenu speed;
    speed.strTitle = QStringLiteral("速率");
    speed.items = {
        {ID_SPEED_8X, QStringLiteral("8倍速")},     {ID_SPEED_4X, QStringLiteral("4倍速")},
        {ID_SPEED_2X, QStringLiteral("2倍速")},     {ID_SPEED_1X, QStringLiteral("正常速度")},
        {ID_SPEED_1_2X, QStringLiteral("1/2倍速")}, {ID_SPEED_1_4X, QStringLiteral("1/4倍速")},
        {ID_SPEED_1_8X, QStringLiteral("1/8倍速")},
    };
    return {speed};
}

}  // namespace BrelsoRes
