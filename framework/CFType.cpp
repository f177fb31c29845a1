#include "framework/CFType.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

CFString::CFString(const char* text) : text(strdup(text ? text : ""))
{
}

CFString::~CFString()
{
    free(text);
}

CFArray::~CFArray()
{
    for (CFType* element : elements)
        if (element)
            element->Release();
}

namespace {

struct ConstantTable {
    std::mutex lock;
    std::unordered_map<const char*, CFString*> strings;
    void ReleaseAll()
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& entry : strings)
            entry.second->Release();
        strings.clear();
    }
    ~ConstantTable() { ReleaseAll(); }
};

// Built on first use, so that static initialisers elsewhere (the preset
// tables) may call in before this file's statics exist; torn down at unload
// after everything built later.
ConstantTable& Constants()
{
    static ConstantTable table;
    return table;
}

} // namespace

CFString* CFStringMakeConstant(const char* literal)
{
    ConstantTable& table = Constants();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.strings.find(literal);
    if (found != table.strings.end())
        return found->second;
    CFString* string = new CFString(literal);
    string->Retain();
    table.strings.emplace(literal, string);
    return string;
}

CFArray* CFArrayCreateFromStrings(const char* const* strings, size_t n)
{
    CFArray* array = new CFArray;
    array->Retain();
    for (size_t i = 0; i < n; ++i) {
        CFString* copy = new CFString(strings[i]);
        copy->Retain();
        array->Append(copy);
    }
    return array;
}

void CFStringReleaseConstants()
{
    Constants().ReleaseAll();
}
