// Drawing of the player's pictures. Each function returns a new picture of the given size.
#pragma once

#include <QColor>
#include <QImage>

namespace BrelsoRes {

// Glyphs of the icons.
enum class Glyph {
    Play,
    Pause,
    Stop,
    FastForward,
    Camera,
    Film,
    FilmRecording,
    SpeakerOn,
    SpeakerOff,
    VideoCamera,
    Folder,
    Logo,
};

// An icon: the glyph in the given colour on a transparent square of nSize pixels.
QImage DrawIcon(Glyph glyph, int nSize, const QColor& clr);

// The product logo: a lens with a play mark on the idle window colour, nSize square.
QImage DrawLogo(int nSize);

// Slider pictures. The opaque ones repeat seamlessly along their length; the transparent
// ones have the key colour in their top-left pixel wherever they are see-through.
QImage DrawProgressTrack(bool bFilled);
QImage DrawKnob(const QColor& clrFace);
QImage DrawVolumeWedge(bool bFilled);

// Colour that marks the see-through parts of the transparent slider pictures.
inline QColor KeyColor() {
    return QColor(255, 0, 255);
}

}  // namespace BrelsoRes
