// The player's command line: which sources the four windows start with.
//
//   BrelsoPlayer [--no-restore] [--open SOURCE | --open-tcp ADDRESS]...
//
// Without options the windows come back as they were when the player last closed. With
// --no-restore they start idle. Each --open (up to four) names what window 1, 2, 3, 4 plays,
// in that order, instead of what the settings remember: an "rtsp://" address (media over UDP,
// or over TCP with --open-tcp) or a ".qf" recording or AVI file. Arguments the player does not
// know are left alone, as before.
//
// Threads: any; no state.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "PlayerSettings.h"

namespace StartOptions {

struct Options {
    // Whether the windows come back from the settings; false with --no-restore or --open.
    bool bRestore = true;
    // With --open: the sources of the windows, window 0 first (type None for the others).
    PlayerSettings::Session session;
    int nOpened = 0;
};

// The options of a command line as QCoreApplication::arguments() gives it (the program name
// first). Nothing, with a message in *pError, when an --open lacks its value, names more than
// four sources, or an address does not split (wrong form, too long) or --open-tcp names
// something that is not an "rtsp://" address.
std::optional<Options> Parse(const QStringList& arguments, QString* pError);

// The usage lines printed with such a message.
QString Usage();

}  // namespace StartOptions
