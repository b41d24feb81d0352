// The 88 member names of the payload.  The narrow literals are GBK: this
// file is compiled with -fexec-charset=GBK like the rest of the tree.
#include "tools/common/payload_names.h"

#include <string.h>

namespace tool {

const PayloadName kPayloadNames[kPayloadNameCount] = {
    // Members with a role of their own.
    {"vornhu4.ime", 322048},
    {"vornhu64.ime", 379392},
    {"vorn320.ime", 40960},
    {"vorn321.ime", 53248},
    {"vorn640.ime", 51712},
    {"vorn641.ime", 51712},
    {"vorndel.exe", 50176},
    {"voqdel64.exe", 54272},
    {"vorntavk.exe", 311296},
    {"vorntav6.exe", 364544},
    {"setupw64.exe", 47616},
    {"vorncyzk.bak", 587902},
    {"vornpyck.bak", 1833364},
    {"voszsj43.voh", 200},
    {"tavk1.bmp", 373296},
    {"冷色瓷面.voz", 12825},
    {"粉色瓷面.voz", 12913},
    {"小天使.voz", 23673},
    // The others.
    {"big5hz.ov1", 0},   {"blank.jpg", 0},    {"cfontset.voh", 0}, {"voal01.jpg", 0},   {"voal02.jpg", 0},
    {"vobj01.jpg", 0},   {"vobyy0.bmp", 0},   {"vobyy1.bmp", 0},   {"vodwhz0.voh", 0},  {"vorn1.wav", 0},
    {"vorn2.wav", 0},    {"vorn3.wav", 0},    {"vorn4.wav", 0},    {"vorn5.wav", 0},    {"vorn6.wav", 0},
    {"vorn7.wav", 0},    {"vorndhz.voh", 0},  {"vorndwdw.txt", 0}, {"vorndzk0.voh", 0}, {"vornjfk.ov1", 0},
    {"vornpymb.ov1", 0}, {"vornskfh.voh", 0}, {"vornszsj.voh", 0}, {"vornynhz.txt", 0}, {"vornzdfh.voh", 0},
    {"vornzdym.voh", 0}, {"vofcz.txt", 0},    {"vogbkbh.voh", 0},  {"vohzbs.voh", 0},   {"vokeyyx1.wav", 0},
    {"vopyjm1.txt", 0},  {"vopykey0.txt", 0}, {"vopykey1.txt", 0}, {"vopykey2.txt", 0}, {"vopykey3.txt", 0},
    {"vopykey4.txt", 0}, {"vopykey5.txt", 0}, {"vopyltwj.voh", 0}, {"vopyzdfy.txt", 0}, {"vopyzdym.voh", 0},
    {"vospeeke.txt", 0}, {"vospk1.txt", 0},   {"vospk2.txt", 0},   {"vospk3.txt", 0},   {"vospk4.txt", 0},
    {"voszsj01.voh", 0}, {"voszsj02.voh", 0}, {"voszsj03.voh", 0}, {"voszsj04.voh", 0}, {"voszsj44.voh", 0},
    {"vowbjm.txt", 0},   {"vowbpy.txt", 0},   {"voxz0.bmp", 0},    {"voxz1.bmp", 0},    {"VOTAVK41.BMP", 0},
    {"votavk61.bmp", 0}, {"cwb.ov1", 0},      {"cwbzlcz1.txt", 0}, {"ftvozdym.txt", 0}, {"ftpyzdym.txt", 0},
    {"ggbhver.dat", 0},  {"jfb5hzb.txt", 0},  {"jfhzb.txt", 0},    {"nbyy2.bmp", 0},    {"pyqspmb.txt", 0},
    {"qxfc.voz", 0},     {"softkey.txt", 0},  {"uwb.voh", 0},      {"wb1.swf", 0},      {"wuxin1.bmp", 0},
};

uint32_t ShippedBytes(const char* name) {
    for (const PayloadName& p : kPayloadNames)
        if (strcmp(p.name, name) == 0) return p.shippedBytes;
    return 0;
}

bool IsPayloadName(const char* name) {
    for (const PayloadName& p : kPayloadNames)
        if (strcmp(p.name, name) == 0) return true;
    return false;
}

}  // namespace tool
