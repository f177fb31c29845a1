/* A host in plain C, against the VST 2.4 binary interface alone, for the
 * machine a musician copies the module onto: it loads the module, lists the
 * shell's entries, makes the first one and opens its editor in a window of
 * its own on $DISPLAY. It prints "entries N" and "editor open" and exits 0
 * when all of that worked.
 *
 * With --missing LIB it first makes sure that LIB cannot be loaded here, so
 * that a run in a trimmed library view proves the view is trimmed.
 *
 * Usage: bare_machine_host [--missing libfoo.so.1] <module.so>
 */
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tests/support/PlainCHost.h"

int main(int argc, char** argv)
{
    int arg = 1;
    if (argc == 4 && strcmp(argv[1], "--missing") == 0) {
        void* present = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
        if (present) {
            fprintf(stderr, "%s can be loaded here: the library view is not trimmed\n", argv[2]);
            return 1;
        }
        arg = 3;
    }
    if (argc != arg + 1) {
        fprintf(stderr, "usage: %s [--missing lib] module.so\n", argv[0]);
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
