// Sets or unsets (value null) an environment variable for the lifetime of the
// object.
#pragma once

#include <cstdlib>
#include <string>

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name)
    {
        if (const char* old = getenv(name)) {
            had = true;
            oldValue = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had)
            setenv(name, oldValue.c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    std::string oldValue;
    bool had = false;
};
