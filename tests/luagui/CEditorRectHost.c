/* An independent host written in plain C against the VST 2.4 binary
 * interface alone (none of the module's headers, no C++): it loads the module, makes
 * each shell entry it is given with the shell's current-id request, asks
 * effEditGetRect before any editor opens, and prints one line per entry:
 * "<id> <top> <left> <bottom> <right>", or "<id> none" when the entry
 * offers no rectangle.
 *
 * Usage: c_editor_rect_host <module.so> <id> [<id> ...]
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tests/support/PlainCHost.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s module.so id...\n", argv[0]);
        return 2;
    }
    void* module = NULL;
    PlainEntry entry = PlainLoadModule(argv[1], &module);
    if (!entry)
        return 1;
    for (int i = 2; i < argc; ++i) {
        const unsigned char* id = (const unsigned char*)argv[i];
        if (strlen(argv[i]) != 4)
            return 2;
        plainCurrentId = (int32_t)((uint32_t)id[0] << 24 | (uint32_t)id[1] << 16 | (uint32_t)id[2] << 8 | id[3]);
        AEffect* effect = entry(PlainHost);
        if (!effect || effect->magic != kMagic) {
            printf("%s none\n", argv[i]);
            continue;
        }
        effect->dispatcher(effect, kEffOpen, 0, 0, NULL, 0);
        ERect* rect = NULL;
        if ((effect->flags & kFlagsHasEditor) && effect->dispatcher(effect, kEffEditGetRect, 0, 0, &rect, 0) == 1 &&
            rect)
            printf("%s %d %d %d %d\n", argv[i], rect->top, rect->left, rect->bottom, rect->right);
        else
            printf("%s none\n", argv[i]);
        effect->dispatcher(effect, kEffClose, 0, 0, NULL, 0);
    }
    dlclose(module);
    return 0;
}
