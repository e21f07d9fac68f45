// Shows known words on a light, framed panel and a dark one, a red square, a button and a focused
// password field, then prints where they are in global coordinates (words in reading order) and
// runs until it is stopped:
//   WINDOW <id>
//   WORD <text> <x> <y> <w> <h>        ink bounds of a drawn word
//   CONTROL <name> <x> <y> <w> <h>     "red" (to check a capture's channel order), "button", "password"
//   READY
// With an argument it also shows a control it tells of but places nowhere, as an application that
// has not laid it out yet: "button" (a button "Send later"); or a drop-down "Size" that tells it
// is closed, "closed-drop-down", and whose chosen option "Medium" has no place.
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

struct Line {
    const char* text;
    QPoint baseline;
    int pixelSize;
    bool dark;
};
const Line kLines[] = {
    {"Quarterly budget review", {30, 60}, 26, false},
    {"Deploy staging tonight", {480, 60}, 24, true},
    {"Invoice 2041 overdue", {30, 120}, 20, false},
    {"Terminal output ready", {480, 120}, 20, true},
};
const QRect kRedPatch(400, 360, 30, 30);

QFont fontOf(const Line& line)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(line.pixelSize);
    return font;
}

class Canvas : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, 450, 420), QColor(250, 250, 248));
        painter.fillRect(QRect(450, 0, 450, 420), QColor(28, 30, 36));
        painter.fillRect(kRedPatch, QColor(255, 0, 0));
        painter.setPen(QColor(140, 140, 140));
        painter.drawRect(QRect(10, 10, 430, 400));
        painter.drawLine(10, 85, 440, 85);
        for (const Line& line : kLines) {
            painter.setFont(fontOf(line));
            painter.setPen(line.dark ? QColor(225, 228, 235) : QColor(25, 25, 25));
            painter.drawText(line.baseline, QString::fromLatin1(line.text));
        }
    }
};

void print(const char* kind, const QString& name, QRect local, const QWidget* widget)
{
    const QPoint global = widget->mapToGlobal(local.topLeft());
    std::printf("%s %s %d %d %d %d\n", kind, qPrintable(name), global.x(), global.y(), local.width(),
                local.height());
}

// Tells the accessibility bus of a control at no place.
class UnplacedButton : public QAccessibleWidget {
public:
    explicit UnplacedButton(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? QStringLiteral("Send later") : QString();
    }
    QRect rect() const override { return QRect(-1, -1, -1, -1); }
};

class UnplacedOption : public QAccessibleInterface {
public:
    explicit UnplacedOption(QAccessibleInterface* box) : m_box(box) {}
    bool isValid() const override { return true; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_box->window(); }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return m_box; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? QStringLiteral("Medium") : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return QRect(-1, -1, -1, -1); }
    QAccessible::Role role() const override { return QAccessible::MenuItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.selected = true;
        return state;
    }

private:
    QAccessibleInterface* m_box;
};

class DropDown : public QAccessibleWidget {
public:
    explicit DropDown(QWidget* widget) : QAccessibleWidget(widget, QAccessible::ComboBox, QStringLiteral("Size"))
    {
        m_option = new UnplacedOption(this);
        QAccessible::registerAccessibleInterface(m_option);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override { return index == 0 ? m_option : nullptr; }
    int indexOfChild(const QAccessibleInterface* child) const override { return child == m_option ? 0 : -1; }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.collapsed = true;
        return state;
    }

private:
    QAccessibleInterface* m_option = nullptr;
};

QString gExtra;

QAccessibleInterface* unplacedFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || widget->objectName() != QLatin1String("extra"))
        return nullptr;
    if (gExtra == QLatin1String("button"))
        return new UnplacedButton(widget);
    return new DropDown(widget);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    auto* canvas = new Canvas;
    canvas->setParent(&window);
    canvas->setGeometry(0, 0, 900, 420);
    auto* button = new QPushButton(QStringLiteral("Save draft"), &window);
    button->setGeometry(30, 440, 160, 40);
    auto* password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("Password field"));
    password->setGeometry(470, 440, 220, 40);
    if (argc > 1) {
        gExtra = QString::fromLatin1(argv[1]);
        QAccessible::installFactory(unplacedFactory);
        auto* extra = new QWidget(&window);
        extra->setObjectName(QStringLiteral("extra"));
        extra->setGeometry(250, 440, 160, 40);
    }
    window.setGeometry(120, 140, 900, 500);
    window.show();
    window.activateWindow();
    password->setFocus();

    // Reported once the window is mapped and its accessibility tree is served.
    QTimer::singleShot(600, &app, [&] {
        std::printf("WINDOW %llu\n", static_cast<unsigned long long>(window.winId()));
        for (const Line& line : kLines) {
            const QFontMetrics metrics(fontOf(line));
            int x = line.baseline.x();
            for (const QString& word : QString::fromLatin1(line.text).split(QLatin1Char(' '))) {
                print("WORD", word, metrics.tightBoundingRect(word).translated(x, line.baseline.y()), canvas);
                x += metrics.horizontalAdvance(word + QLatin1Char(' '));
            }
        }
        print("CONTROL", QStringLiteral("red"), kRedPatch, canvas);
        print("CONTROL", QStringLiteral("button"), button->rect(), button);
        print("CONTROL", QStringLiteral("password"), password->rect(), password);
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return app.exec();
}
