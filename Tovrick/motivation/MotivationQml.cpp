#include "Tovrick/motivation/MotivationQml.h"

#include <QQmlEngine>

#include "Tovrick/motivation/ClipSymbol.h"
#include "Tovrick/motivation/MotivationRecordingView.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "shared/ui/DisabledItemsAccessible.h"
#include "shared/ui/FocusKeeper.h"
#include "shared/ui/PopupAccessible.h"

// The resource lives in a static library: nothing references its initialiser, so the linker would
// drop it unless it is called by name.
static void initMotivationResources()
{
    Q_INIT_RESOURCE(motivation);
}

void motivationQml::registerTypes()
{
    static bool registered = false;
    initMotivationResources();
    // What a dialog covers is disabled, and must read so.
    accessibleItems::reportDisabled();
    if (registered)
        return;
    registered = true;
    qmlRegisterType<ClipSymbol>("Tovrick.Motivation", 1, 0, "ClipSymbol");
    PopupAccessible::registerQmlType("Tovrick.Motivation");
    FocusKeeper::registerQmlType();
    const QString reason = QStringLiteral("made by the program");
    qmlRegisterUncreatableType<MotivationSoundsView>("Tovrick.Motivation", 1, 0, "MotivationSoundsView", reason);
    qmlRegisterUncreatableType<MotivationRecordingView>("Tovrick.Motivation", 1, 0, "MotivationRecordingView", reason);
}
