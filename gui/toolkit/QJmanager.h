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

    // Background modes.
    enum BackgroundMode : int { kBackgroundTiled = 0, kBackgroundOnce = 1 };

    // UI thread, before the render task starts (or followed by the
    // redraw-panel event): the panel's background image, one of this
    // manager's textures (AddTexture), tiled at its natural size over the
    // window or drawn once in the bottom-left corner. Null: none.
    void SetBackgroundTexture(QZ::TextureRecord* texture, int mode);
    QZ::TextureRecord* BackgroundTexture() const { return background.load(std::memory_order_acquire); }
    int BackgroundMode() const { return backgroundMode.load(std::memory_order_relaxed); }

    // render thread
    void SetUpShaders() override;
    RenderingShutdowner* CreateRenderingShutdowner() override;
    // The background image under the labels.
    void DrawPanel() override;
    // With a background image and "Enable eye candy", the panel quad goes
    // through the panel program.
    void Draw2D() override;

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

    std::atomic<QZ::TextureRecord*> background{nullptr}; // owned by the texture list
    std::atomic<int> backgroundMode{kBackgroundTiled};
    // GL names, render thread; program is read by tests too.
    uint32_t vertexShader = 0;
    uint32_t fragmentShader = 0;
    std::atomic<uint32_t> program{0};
    int32_t textureLocation = 0;
};
