// Pop-up menus, replaceable by tests.
#include "choice_menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace {
MenuHook g_hook;
}  // namespace

int ChooseFromMenu(QWidget* anchor, const QStringList& items) {
    if (g_hook) return g_hook(items);
    QMenu menu(anchor);
    for (const QString& item : items) menu.addAction(item);
    const QAction* chosen =
        menu.exec(anchor ? anchor->mapToGlobal(QPoint(0, anchor->height())) : QPoint());
    return chosen ? static_cast<int>(menu.actions().indexOf(const_cast<QAction*>(chosen))) : -1;
}

void SetMenuHook(MenuHook hook) {
    g_hook = std::move(hook);
}
