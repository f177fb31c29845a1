/* A host in plain C, against the VST 2.4 binary interface alone, for the
 * machine a musician copies the module onto: it loads the module, lists the
 * shell's entries, makes the first one and opens its editor in a window of
 * its own on $DISPLAY. It prints "entries N" and "editor open" and exits 0
 * when all of that worked.
 *
 * With --missing LIB it first makes sure that LIB cannot be loaded here, so
 * that a run in a trimmed library view proves the view is trimmed.
 *
 * With --without-gl the machine has no libGL: after the listing the host
 * makes the LFO and runs it for a second, and the LFO must offer no editor
 * (no flag, no rectangle, effEditOpen refused). It prints "lfo runs" and
 * "no editor".
 *
 * Usage: bare_machine_host [--missing libfoo.so.1] [--without-gl] <module.so>
 */
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tests/support/PlainCHost.h"

/* The LFO for a second at 48 kHz: it must run and move, and offer no editor. */
static int RunWithoutEditor(PlainEntry entry, Display* display)
{
    enum { kFrames = 64, kMaxChannels = 16 };
    plainCurrentId = ('Q' << 24) | ('Z' << 16) | ('s' << 8) | '2';
    AEffect* lfo = entry(PlainHost);
    if (!lfo || lfo->magic != kMagic || lfo->numOutputs < 1 || lfo->numOutputs > kMaxChannels ||
        lfo->numInputs > kMaxChannels) {
        fprintf(stderr, "no LFO\n");
        return 1;
    }
    int status = 0;
    lfo->dispatcher(lfo, kEffOpen, 0, 0, NULL, 0);
    lfo->dispatcher(lfo, kEffSetSampleRate, 0, 0, NULL, 48000.0f);
    lfo->dispatcher(lfo, kEffSetBlockSize, 0, kFrames, NULL, 0);
    lfo->dispatcher(lfo, kEffMainsChanged, 0, 1, NULL, 0);
    static float buffers[2 * kMaxChannels][kFrames];
    float* inputs[kMaxChannels];
    float* outputs[kMaxChannels];
    for (int i = 0; i < kMaxChannels; ++i) {
        inputs[i] = buffers[i];
        outputs[i] = buffers[kMaxChannels + i];
    }
    /* Every wave's level is 0 by default: the sine at full level, free running. */
    for (int32_t index = 0; index < lfo->numParams; ++index) {
        char parameter[64] = {0};
        lfo->dispatcher(lfo, kEffGetParamName, index, 0, parameter, 0);
        if (strcmp(parameter, "Sine L") == 0)
            ((SetParameter)lfo->setParameter)(lfo, index, 1.0f);
    }
    float lowest = INFINITY, highest = -INFINITY;
    for (int block = 0; block < 48000 / kFrames; ++block) {
        ((ProcessReplacing)lfo->processReplacing)(lfo, inputs, outputs, kFrames);
        for (int frame = 0; frame < kFrames; ++frame) {
            const float value = outputs[0][frame];
            if (!isfinite(value)) {
                fprintf(stderr, "the LFO gave %f\n", value);
                status = 1;
            }
            lowest = fminf(lowest, value);
            highest = fmaxf(highest, value);
        }
    }
    if (status == 0 && highest - lowest > 0.01f)
        printf("lfo runs\n");
    else
        fprintf(stderr, "the LFO did not move (%f .. %f)\n", lowest, highest), status = 1;

    ERect* rect = NULL;
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 200, 0, 0, 0);
    XSync(display, False);
    if (lfo->flags & kFlagsHasEditor)
        fprintf(stderr, "the LFO offers an editor without GL\n"), status = 1;
    else if (lfo->dispatcher(lfo, kEffEditGetRect, 0, 0, &rect, 0) != 0)
        fprintf(stderr, "the LFO gives an editor rectangle without GL\n"), status = 1;
    else if (lfo->dispatcher(lfo, kEffEditOpen, 0, 0, (void*)(uintptr_t)window, 0) != 0)
        fprintf(stderr, "the LFO opened an editor without GL\n"), status = 1;
    else
        printf("no editor\n");
    lfo->dispatcher(lfo, kEffMainsChanged, 0, 0, NULL, 0);
    lfo->dispatcher(lfo, kEffClose, 0, 0, NULL, 0);
    XDestroyWindow(display, window);
    return status;
}

int main(int argc, char** argv)
{
    int arg = 1;
    if (arg + 1 < argc && strcmp(argv[arg], "--missing") == 0) {
        void* present = dlopen(argv[arg + 1], RTLD_NOW | RTLD_LOCAL);
        if (present) {
            fprintf(stderr, "%s can be loaded here: the library view is not trimmed\n", argv[arg + 1]);
            return 1;
        }
        arg += 2;
    }
    const int withoutGL = arg < argc && strcmp(argv[arg], "--without-gl") == 0;
    arg += withoutGL;
    if (argc != arg + 1) {
        fprintf(stderr, "usage: %s [--missing lib] [--without-gl] module.so\n", argv[0]);
        return 2;
    }
    void* module = NULL;
    PlainEntry entry = PlainLoadModule(argv[arg], &module);
    if (!entry)
        return 1;

    plainCurrentId = 0;
    AEffect* shell = entry(PlainHost);
    if (!shell || shell->magic != kMagic) {
        fprintf(stderr, "no shell\n");
        return 1;
    }
    int entries = 0;
    int32_t firstId = 0;
    char name[256];
    for (;;) {
        memset(name, 0, sizeof name);
        const int32_t id = (int32_t)shell->dispatcher(shell, kEffShellGetNextPlugin, 0, 0, name, 0);
        if (id == 0 || entries > 100)
            break;
        if (entries++ == 0)
            firstId = id;
    }
    shell->dispatcher(shell, kEffClose, 0, 0, NULL, 0);
    printf("entries %d\n", entries);
    if (entries == 0)
        return 1;
    if (withoutGL) {
        Display* display = XOpenDisplay(NULL);
        if (!display) {
            fprintf(stderr, "no X display\n");
            return 1;
        }
        const int status = RunWithoutEditor(entry, display);
        XCloseDisplay(display);
        dlclose(module);
        return status;
    }

    plainCurrentId = firstId;
    AEffect* effect = entry(PlainHost);
    if (!effect || effect->magic != kMagic || !(effect->flags & kFlagsHasEditor)) {
        fprintf(stderr, "the first entry has no plug-in with an editor\n");
        return 1;
    }
    effect->dispatcher(effect, kEffOpen, 0, 0, NULL, 0);
    ERect* rect = NULL;
    if (effect->dispatcher(effect, kEffEditGetRect, 0, 0, &rect, 0) != 1 || !rect) {
        fprintf(stderr, "no editor rectangle\n");
        return 1;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "no X display\n");
        return 1;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, (unsigned)(rect->right - rect->left),
                                        (unsigned)(rect->bottom - rect->top), 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    int status = 1;
    if (effect->dispatcher(effect, kEffEditOpen, 0, 0, (void*)(uintptr_t)window, 0) == 1) {
        /* The editor's own window hangs below ours once the open returns. */
        Window root, parent, *children = NULL;
        unsigned count = 0;
        XSync(display, False);
        if (XQueryTree(display, window, &root, &parent, &children, &count) && count > 0) {
            printf("editor open\n");
            status = 0;
        } else {
            fprintf(stderr, "the editor made no window\n");
        }
        if (children)
            XFree(children);
        effect->dispatcher(effect, kEffEditClose, 0, 0, NULL, 0);
    } else {
        fprintf(stderr, "effEditOpen failed\n");
    }
    effect->dispatcher(effect, kEffClose, 0, 0, NULL, 0);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    dlclose(module);
    return status;
}
