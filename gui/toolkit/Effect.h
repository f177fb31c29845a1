// A renderer: a GL drawing object the manager owns, which draws every widget
// of one kind in one batch. All operations but the constructor and
// destructor run on the render thread.
#pragma once

namespace QZ {

class Manager;

class Effect {
public:
    explicit Effect(Manager* manager) : manager(manager) {}
    virtual ~Effect() = default;
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    // Once per frame, before drawing.
    virtual void Update() {}
    // Overlay pass (pixel coordinates), after the element tree has drawn.
    virtual void Draw() {}
    // Lit perspective pass.
    virtual void DrawLit() {}
    // Once when GL starts, after every element's InitGL: builds GL objects.
    virtual void SetUp() {}
    // When GL ends: releases GL objects.
    virtual void TearDown() {}

protected:
    Manager* manager;
};

} // namespace QZ
