/* An independent host written in plain C against the VST 2.4 binary
 * interface alone (no header of ours, no C++): it loads the module, makes
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

typedef struct AEffect AEffect;
typedef intptr_t (*HostCallback)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
typedef intptr_t (*Dispatcher)(AEffect*, int32_t, int32_t, intptr_t, void*, float);

struct AEffect {
    int32_t magic;
    Dispatcher dispatcher;
    void* process;
    void* setParameter;
    void* getParameter;
    int32_t numPrograms, numParams, numInputs, numOutputs, flags;
    intptr_t resvd1, resvd2;
    int32_t initialDelay, realQualities, offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID, version;
    void* processReplacing;
    void* processDoubleReplacing;
    char future[56];
};

typedef struct {
    int16_t top, left, bottom, right;
} ERect;

enum {
    kMagic = ('V' << 24) | ('s' << 16) | ('t' << 8) | 'P',
    kEffOpen = 0,
    kEffClose = 1,
    kEffEditGetRect = 13,
    kMasterVersion = 1,
    kMasterCurrentId = 2,
    kFlagsHasEditor = 1
};

static int32_t currentId;

static intptr_t Host(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    (void)effect, (void)index, (void)value, (void)ptr, (void)opt;
    if (opcode == kMasterVersion)
        return 2400;
    if (opcode == kMasterCurrentId)
        return currentId;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s module.so id...\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    AEffect* (*entry)(HostCallback) = (AEffect * (*)(HostCallback)) dlsym(module, "VSTPluginMain");
    if (!entry) {
        fprintf(stderr, "no VSTPluginMain\n");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const unsigned char* id = (const unsigned char*)argv[i];
        if (strlen(argv[i]) != 4)
            return 2;
        currentId = (int32_t)((uint32_t)id[0] << 24 | (uint32_t)id[1] << 16 | (uint32_t)id[2] << 8 | id[3]);
        AEffect* effect = entry(Host);
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
