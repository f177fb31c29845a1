// QJmanager: the manager of every plug-in editor. It adds a GLSL program
// that draws the panel quad when "Enable eye candy" is on and the driver
// offers shaders, released again by its rendering shutdowner when the render
// thread ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/toolkit/Manager.h"

class QJmanager : public QZ::Manager {
public:
    explicit QJmanager(ObryAuBase* plugin);
    ~QJmanager() override;

    // render thread
    void SetUpShaders() override;
    RenderingShutdowner* CreateRenderingShutdowner() override;

    // The panel program's GL name while the render thread holds one (0 none).
    uint32_t ShaderProgram() const { return program.load(std::memory_order_acquire); }

private:
    class QJRenderingShutdowner : public RenderingShutdowner {
    public:
        explicit QJRenderingShutdowner(QJmanager* manager) : manager(manager) {}
        void Shutdown() override;

    private:
        QJmanager* manager;
    };

    // GL names, render thread; program is read by tests too.
    uint32_t vertexShader = 0;
    uint32_t fragmentShader = 0;
    std::atomic<uint32_t> program{0};
    int32_t textureLocation = 0;
};
