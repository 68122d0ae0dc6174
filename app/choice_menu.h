// The small menus behind the store buttons (which kind of store to add or
// make), with a hook through which tests choose the way a user would.
#pragma once

#include <QStringList>

#include <functional>

class QWidget;

// Pops the menu of items up below anchor and waits; the index of the item
// chosen, -1 when the menu was dismissed.
int ChooseFromMenu(QWidget* anchor, const QStringList& items);

// Chooses in place of the user (null restores the real menu).
using MenuHook = std::function<int(const QStringList& items)>;
void SetMenuHook(MenuHook hook);
