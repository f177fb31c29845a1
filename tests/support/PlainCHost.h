/* What a host written in plain C knows of the VST 2.4 binary interface (no
 * header of ours, no C++): the host record, the editor rectangle, the few
 * opcodes the C test hosts use, and a host callback that answers the version
 * and the shell entry to make (plainCurrentId). One file per program. */
#ifndef CORVANE_TESTS_PLAIN_C_HOST_H
#define CORVANE_TESTS_PLAIN_C_HOST_H

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

typedef struct AEffect AEffect;
typedef intptr_t (*HostCallback)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
typedef intptr_t (*Dispatcher)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
typedef void (*ProcessReplacing)(AEffect*, float**, float**, int32_t);
typedef void (*SetParameter)(AEffect*, int32_t, float);

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
    kEffGetParamName = 8,
    kEffSetSampleRate = 10,
    kEffSetBlockSize = 11,
    kEffMainsChanged = 12,
    kEffEditGetRect = 13,
    kEffEditOpen = 14,
    kEffEditClose = 15,
    kEffShellGetNextPlugin = 70,
    kMasterVersion = 1,
    kMasterCurrentId = 2,
    kFlagsHasEditor = 1
};

static int32_t plainCurrentId;

static intptr_t PlainHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    (void)effect, (void)index, (void)value, (void)ptr, (void)opt;
    if (opcode == kMasterVersion)
        return 2400;
    if (opcode == kMasterCurrentId)
        return plainCurrentId;
    return 0;
}

typedef AEffect* (*PlainEntry)(HostCallback);

/* Loads the module and finds its entry; says why on standard error when not. */
static PlainEntry PlainLoadModule(const char* path, void** module)
{
    *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!*module) {
        fprintf(stderr, "%s\n", dlerror());
        return NULL;
    }
    PlainEntry entry = (PlainEntry)dlsym(*module, "VSTPluginMain");
    if (!entry)
        fprintf(stderr, "no VSTPluginMain\n");
    return entry;
}

#endif
