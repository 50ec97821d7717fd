#include "platform/version.h"
#include "ui/qt/downloader_app.h"

namespace {

const char* const kUsage =
    "Usage: kelvane [options]\n"
    "   or: kelvane --help | --version\n"
    "Opens the window that flashes up to eight handsets at once. The settings\n"
    "(Kelvane_3.ini) and the port map (Kelvane_ports.ini) are kept in the folder it\n"
    "is started from.\n"
    "\n"
    "Options (a scripted run of the window that grabs a picture of it):\n"
    "  --screenshot FILE.png  grab the window into FILE.png after --after-ms and close\n"
    "                         it; message boxes go to standard error\n"
    "  --crc                  tick \"Calculate CRC-32\" first\n"
    "  --choose FOLDER        choose a whole image set from FOLDER as an operator would\n"
    "  --full-path ROW        show ROW's full path (boot, usb, modem, rsrc1, rsrc2,\n"
    "                         factoryFs, fota)\n"
    "  --download             press Download; without --screenshot the window closes\n"
    "                         when the download is over and prints how long it took\n"
    "  --station              tick Station (needs --screenshot); the close then stops\n"
    "                         every slot at once\n"
    "  --after-ms N           milliseconds before the picture is taken (default 5000)\n"
    "  --help                 show this text\n"
    "  --version              show the version\n"
    "The standard Qt options (-platform, -style, ...) are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
    if (platform::AnswerStandardOption(argc, argv, "kelvane", kUsage)) return 0;
    DownloaderApp app(argc, argv);
    return app.Run();
}
