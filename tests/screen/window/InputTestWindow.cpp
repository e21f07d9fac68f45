// A window that reports the input it gets, for the synthetic input tests and benchmark. It prints
// where its parts are in root pixels, then one line per event, and takes commands on its input:
//   WINDOW <id>
//   CONTROL <name> <x> <y> <w> <h>     "pad" (mouse events), "text", "password"
//   READY
//   PRESS|RELEASE|DOUBLE <button> <x> <y>, MOVE <x> <y> (while a button is down), WHEEL <dx> <dy>
//   TEXT <text>, RETURN, SECRET <length> (the password field's text changed)
// Commands: "FOCUS text", "FOCUS password", "FOCUS none" (the window keeps the keyboard, no field has
// the focus), "SELECT <text>" (the text field holds the text, selected, for a drag to carry).
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QWheelEvent>

#include <cstdio>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class Pad : public QWidget {
protected:
    void mousePressEvent(QMouseEvent* event) override { report("PRESS", event); }
    void mouseReleaseEvent(QMouseEvent* event) override { report("RELEASE", event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { report("DOUBLE", event); }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        const QPoint at = event->globalPosition().toPoint();
        say(QStringLiteral("MOVE %1 %2").arg(at.x()).arg(at.y()));
    }
    void wheelEvent(QWheelEvent* event) override
    {
        say(QStringLiteral("WHEEL %1 %2").arg(event->angleDelta().x()).arg(event->angleDelta().y()));
    }
    void paintEvent(QPaintEvent*) override {}

private:
    static void report(const char* kind, QMouseEvent* event)
    {
        const QPoint at = event->globalPosition().toPoint();
        const char* button = event->button() == Qt::RightButton ? "right" : "left";
        say(QStringLiteral("%1 %2 %3 %4").arg(QLatin1String(kind), QLatin1String(button)).arg(at.x()).arg(at.y()));
    }
};

void place(const char* name, const QWidget* widget)
{
    const QPoint global = widget->mapToGlobal(QPoint(0, 0));
    say(QStringLiteral("CONTROL %1 %2 %3 %4 %5")
            .arg(QLatin1String(name))
            .arg(global.x())
            .arg(global.y())
            .arg(widget->width())
            .arg(widget->height()));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Input Probe"));
    auto* pad = new Pad;
    pad->setParent(&window);
    pad->setGeometry(0, 0, 400, 300);
    auto* text = new QLineEdit(&window);
    text->setAccessibleName(QStringLiteral("Text field"));
    text->setGeometry(420, 20, 160, 30);
    text->setDragEnabled(true);
    auto* password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("Password field"));
    password->setGeometry(420, 80, 160, 30);
    QObject::connect(text, &QLineEdit::textChanged, [](const QString& now) { say(QStringLiteral("TEXT ") + now); });
    QObject::connect(text, &QLineEdit::returnPressed, [] { say(QStringLiteral("RETURN")); });
    QObject::connect(password, &QLineEdit::textChanged,
                     [](const QString& now) { say(QStringLiteral("SECRET %1").arg(now.size())); });
    window.setGeometry(200, 200, 600, 320);
    window.show();
    window.activateWindow();
    text->setFocus();

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (got <= 0) {
            commands.setEnabled(false);
            return;
        }
        const QString command = QString::fromUtf8(buffer, static_cast<int>(got)).trimmed();
        if (command == QLatin1String("FOCUS text"))
            text->setFocus();
        else if (command == QLatin1String("FOCUS password"))
            password->setFocus();
        else if (command == QLatin1String("FOCUS none") && QApplication::focusWidget())
            QApplication::focusWidget()->clearFocus();
        else if (command.startsWith(QLatin1String("SELECT "))) {
            text->setText(command.mid(7));
            text->selectAll();
        }
        say(QStringLiteral("DONE"));
    });

    QTimer::singleShot(600, &app, [&] {
        say(QStringLiteral("WINDOW %1").arg(window.winId()));
        place("pad", pad);
        place("text", text);
        place("password", password);
        say(QStringLiteral("READY"));
    });
    return app.exec();
}
