// The image set: which image files go into which download slots, kept in an
// INI file ("*.vrk", section "VARKO"). The fields are named after their keys.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "config/profile.h"

inline constexpr size_t kImageKindSize = 32;
inline constexpr size_t kImagePathSize = 261;
inline constexpr size_t kImageAddressSize = 32;

// MTY values; any other value means no boot image.
inline constexpr int kModemTypeBootLoader = 0;  // single boot loader image (slot 6)
inline constexpr int kModemTypeBootChain = 2;   // six-file boot chain (slots 0..5)

// The rows sharing the CHECK/KIND/FILE/ADDRESS layout, in file order.
enum ImageSetRow {
    kRowCode,  // CODE...: Modem (slot 8)
    kRowFont,  // FONT...: Rsrc1 (slot 9)
    kRowData,  // DATA...: Rsrc2 (slot 10)
    kRowEtc1,  // ETC1...: FactoryFS (slot 11)
    kRowEtc2,  // ETC2...: FOTA (kept, no download slot)
    kImageSetRowCount
};

struct ImageSetSlot {
    int check;  // row ticked
    char kind[kImageKindSize];
    char file[kImagePathSize];
    char address[kImageAddressSize];  // hexadecimal without prefix
};

// The boot chain files in slot order (slots 0..5).
enum BootChainFile {
    kChainPbl,      // pbl.mbn, PBLADDRESS
    kChainQcsblHd,  // qcsblhd_cfgdata.mbn, QCSBLHDADDRESS
    kChainMibib1,   // mibib1.mbn, MIBIB1ADDRESS
    kChainMibib2,   // mibib2.mbn, MIBIB2ADDRESS
    kChainQcsbl,    // qcsbl.mbn, QCSBLADDRESS
    kChainOemsbl,   // oemsbl.mbn, OEMSBLADDRESS
    kBootChainCount
};

struct BootChainEntry {
    char path[kImagePathSize];  // formed from BOOTFILE at every read, never stored
    char address[kImageAddressSize];
};

struct ImageSet {
    int MTY;
    int BOOTCHECK;  // written only with modem type 0; every read clears it
    char BOOTKIND[kImageKindSize];
    char BOOTFILE[kImagePathSize];        // the boot folder
    char BOOTLOADERFILE[kImagePathSize];  // modem type 0: boot folder + "/BOOT_LOADER.mbn"
    char BOOTADDRESS[kImageAddressSize];  // read only when mty is not 2
    BootChainEntry bootChain[kBootChainCount];
    int USBCHECK;  // every read clears it
    char USBKIND[kImageKindSize];
    char USBFILE[kImagePathSize];  // USB boot image (slot 7)
    char USBADDRESS[kImageAddressSize];
    char BINARYFULLPATH[kImagePathSize];  // folder of the full-binary option
    ImageSetSlot rows[kImageSetRowCount];
};

// The image set the window shows (window thread only).
extern ImageSet g_imageSet;

// File name and address key of a boot chain file ("/pbl.mbn", "PBLADDRESS").
const char* BootChainFileName(int index);
const char* BootChainAddressKey(int index);
// Key prefix of a row ("CODE", "FONT", "DATA", "ETC1", "ETC2").
const char* ImageSetRowPrefix(int row);
// Name of a row's button ("Modem", "Rsrc1", "Rsrc2", "FactoryFS", "FOTA").
const char* ImageSetRowName(int row);

// Replaces *set with the image set in path; a missing file, and every missing
// key, gives the defaults (modem type 0, nothing ticked, empty texts). An
// empty address of an existing image file is taken from the file's trailer;
// a file without one shows the trailer reader's message box. A file over
// 1 MiB reads as missing, and a value longer than its field is left empty
// (an address then takes nothing from the trailer either); both are noted in
// problems when given.
void ReadImageSet(const char* path, ImageSet* set, config::ReadProblems* problems = nullptr);
void ReadImageSet(const char* path, config::ReadProblems* problems = nullptr);  // into g_imageSet

// One line for every ticked Modem, Rsrc1, Rsrc2 or FactoryFS row whose file
// is missing ("Modem is ticked but its file /st/m.bin is missing").
std::vector<std::string> MissingTickedFiles(const ImageSet& set);

// Stores the keys of *set in path (nothing at all for an empty path) with one
// atomic replace. True when it was written; otherwise the file is as it was.
bool WriteImageSet(const char* path, const ImageSet& set);
bool WriteImageSet(const char* path);  // from g_imageSet

// What an image set and its path were when the window showed them, so that a
// set the operator did not change is not written back (a row whose file is
// missing shows empty; writing it would lose its stored values).
namespace config {

class ImageSetBaseline {
public:
    void Remember(const char* path, const ImageSet& set);
    // True when path or any key that WriteImageSet would write differs.
    bool Changed(const char* path, const ImageSet& set) const;

private:
    std::string path_;
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace config
