#include <QGuiApplication>

#include "shared/util/Log.h"

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Tovrick"));
    QGuiApplication::setOrganizationName(QStringLiteral("Tovrick"));
    logline::info(QStringLiteral("started"));
    return QGuiApplication::exec();
}
