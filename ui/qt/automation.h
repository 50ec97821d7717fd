// A scripted run of the window for pictures of it (scripts/screenshot.sh):
//   kelvane --screenshot FILE.png [--crc] [--choose FOLDER] [--full-path ROW]
//           [--download] [--after-ms N]
// opens the dialog as usual and then, in this order:
//   --crc          checks "[*]Calculate CRC-32 ";
//   --choose       plays the operator choosing a whole image set from FOLDER:
//                  the second modem platform, Boot Change, the Boot button
//                  (the boot chain in FOLDER), then the Modem, Rsrc1, Rsrc2
//                  and FactoryFS buttons, each answered with the first file
//                  in FOLDER that matches the row's filter; questions are
//                  answered Yes;
//   --full-path    gives ROW's path edit the focus, so that its full path
//                  shows (ROW: boot, usb, modem, rsrc1, rsrc2, factoryFs,
//                  fota);
//   --download     presses Download;
//   --station      ticks Station (the close then answers No: every slot stops);
// grabs the window into FILE after N ms (default 5000), and closes the
// dialog, which stops every channel of a running download first.
//   kelvane --download
// alone presses Download, prints how long the download took and closes the
// dialog once it is over. Message boxes are printed to standard error
// instead of waiting for an operator.
#pragma once

#include <QStringList>
#include <string>

struct AutomationOptions {
    std::string screenshotFile;
    bool download = false;
    bool station = false;
    bool crc = false;
    std::string chooseFolder;
    std::string fullPathRow;
    int afterMs = 5000;

    bool Active() const { return download || !screenshotFile.empty(); }
};

// False with a reason for options it does not know; no options at all is
// a normal interactive run.
bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error);

// 0 when the picture was saved.
int RunAutomated(const AutomationOptions& options);
