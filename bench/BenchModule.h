// The built module loaded once per benchmark process, as a host loads it.
// CORVANE_MODULE names another build of the module to load (to compare two
// builds with one benchmark binary).
#pragma once

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/VstHost.h"

namespace corvane::bench {

inline host::Module& TheModule()
{
    static std::unique_ptr<host::Module> module = [] {
        std::string error;
        const char* path = getenv("CORVANE_MODULE");
        auto loaded = host::Module::Load(path && *path ? path : CORVANE_MODULE_PATH, &error);
        if (!loaded)
            throw std::runtime_error("cannot load the module: " + error);
        return loaded;
    }();
    return *module;
}

} // namespace corvane::bench
