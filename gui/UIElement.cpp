#include "gui/UIElement.h"

#include "gui/Manager.h"

namespace QZ {

UIElement::UIElement(Manager* manager) : manager(manager)
{
    if (manager)
        manager->AddElement(this);
}

} // namespace QZ
