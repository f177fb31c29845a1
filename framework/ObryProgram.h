// Program objects: one per program slot of a plug-in, holding its real
// parameter values and name. Most plug-ins use ObryProgramBasic<N>; programs
// with a chunk format of their own derive from ObryProgram directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

class ObryProgram {
public:
    virtual ~ObryProgram() = default;
    virtual void SetParameter(int32_t index, float value) = 0;
    virtual float GetParameter(int32_t index) = 0;
    virtual float* GetParameterPtr(int32_t) { return nullptr; }
    virtual const float* GetParameterPtr(int32_t) const { return nullptr; }
    virtual void SetName(const char* name) = 0;
    virtual char* GetName() = 0;
    // The program's own chunk; null and 0 when it has none (its values are
    // then saved as plain floats).
    virtual int32_t GetChunk(void** data)
    {
        *data = nullptr;
        return 0;
    }
    virtual int32_t Reserved1() { return 0; }
    virtual void SetChunk(const void*, int32_t) {}
    virtual int32_t Reserved2() { return 0; }
};

using ObryProgramFactory = ObryProgram* (*)();

template <int N>
class ObryProgramBasic : public ObryProgram {
public:
    static ObryProgram* Create() { return new ObryProgramBasic<N>; }

    // Indices outside 0..N-1 are ignored (reads give 0): callers are meant to
    // stay inside, but a bad index must not write past the values.
    // Values are written and read from several threads (host automation,
    // editor, OSC, Lua) without a lock; each value is one relaxed atomic word.
    void SetParameter(int32_t index, float value) override
    {
        if (index >= 0 && index < N)
            std::atomic_ref<float>(params[index]).store(value, std::memory_order_relaxed);
    }
    float GetParameter(int32_t index) override
    {
        return index >= 0 && index < N ? std::atomic_ref<float>(params[index]).load(std::memory_order_relaxed) : 0.0f;
    }
    float* GetParameterPtr(int32_t index) override { return index >= 0 && index < N ? &params[index] : nullptr; }
    const float* GetParameterPtr(int32_t index) const override
    {
        return index >= 0 && index < N ? &params[index] : nullptr;
    }
    void SetName(const char* text) override
    {
        strncpy(name, text ? text : "", sizeof name);
        name[sizeof name - 1] = 0;
    }
    char* GetName() override { return name; }

    alignas(std::atomic_ref<float>::required_alignment) float params[N];
    char name[32];
};
