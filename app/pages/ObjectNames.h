#pragma once
// Object names for the parts of the window and its pages: each part is named
// as the design names its control, so that tests find it with findChild.

#include <QObject>
#include <QString>

#include <initializer_list>
#include <utility>

inline void NameObjects(std::initializer_list<std::pair<QObject*, const char*>> parts) {
    for (const auto& [object, name] : parts)
        object->setObjectName(QLatin1String(name));
}
