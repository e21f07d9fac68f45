// Shows known words on a light and a dark panel plus a button and two fields, then prints where
// everything is in global coordinates:
//   WINDOW <id>
//   WORD <text> <x> <y> <w> <h>        ink bounds of a drawn word
//   CONTROL <name> <x> <y> <w> <h>     a widget ("red": a red square)
//   READY
// It runs until its standard input closes or it is stopped.
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

struct Drawn {
    QString text;
    QRect ink; // in widget coordinates
};

// A pure red square, so a capture's channel order can be checked.
const QRect kRedPatch(400, 360, 30, 30);

class Canvas : public QWidget {
public:
    QList<Drawn> words;

    Canvas()
    {
        setFixedSize(900, 420);
        place(QStringLiteral("Quarterly budget review"), QPoint(30, 60), 26, false);
        place(QStringLiteral("Invoice 2041 overdue"), QPoint(30, 120), 20, false);
        place(QStringLiteral("Deploy staging tonight"), QPoint(480, 60), 24, true);
        place(QStringLiteral("Terminal output ready"), QPoint(480, 120), 20, true);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, 450, 420), QColor(250, 250, 248));
        painter.fillRect(QRect(450, 0, 450, 420), QColor(28, 30, 36));
        painter.fillRect(kRedPatch, QColor(255, 0, 0));
        for (const auto& entry : m_entries) {
            painter.setFont(entry.font);
            painter.setPen(entry.dark ? QColor(225, 228, 235) : QColor(25, 25, 25));
            painter.drawText(entry.baseline, entry.text);
        }
    }

private:
    struct Entry {
        QString text;
        QPoint baseline;
        QFont font;
        bool dark;
    };
    QList<Entry> m_entries;

    void place(const QString& text, QPoint baseline, int pixelSize, bool dark)
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(pixelSize);
        m_entries.append({text, baseline, font, dark});
        const QFontMetrics metrics(font);
        int x = baseline.x();
        for (const QString& word : text.split(QLatin1Char(' '))) {
            words.append({word, metrics.tightBoundingRect(word).translated(x, baseline.y())});
            x += metrics.horizontalAdvance(word + QLatin1Char(' '));
        }
    }
};

void printRect(const char* kind, const QString& text, QRect global)
{
    std::printf("%s %s %d %d %d %d\n", kind, qPrintable(text), global.x(), global.y(), global.width(),
                global.height());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Screen test window"));
    window.setStyleSheet(QStringLiteral("QWidget { font-family: 'DejaVu Sans'; font-size: 16px; }"));
    auto* canvas = new Canvas;
    canvas->setParent(&window);
    canvas->move(0, 0);
    auto* button = new QPushButton(QStringLiteral("Save draft"), &window);
    button->setGeometry(30, 440, 160, 40);
    auto* name = new QLineEdit(&window);
    name->setAccessibleName(QStringLiteral("Name field"));
    name->setGeometry(220, 440, 220, 40);
    auto* password = new QLineEdit(&window);
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("Password field"));
    password->setGeometry(470, 440, 220, 40);
    window.setFixedSize(900, 500);
    window.move(120, 140);
    window.show();
    window.activateWindow();
    password->setFocus();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });

    QTimer::singleShot(600, &app, [&] {
        std::printf("WINDOW %llu\n", static_cast<unsigned long long>(window.winId()));
        for (const auto& word : canvas->words)
            printRect("WORD", word.text, QRect(canvas->mapToGlobal(word.ink.topLeft()), word.ink.size()));
        printRect("CONTROL", QStringLiteral("red"), QRect(canvas->mapToGlobal(kRedPatch.topLeft()), kRedPatch.size()));
        printRect("CONTROL", QStringLiteral("button"), QRect(button->mapToGlobal(QPoint(0, 0)), button->size()));
        printRect("CONTROL", QStringLiteral("password"),
                  QRect(password->mapToGlobal(QPoint(0, 0)), password->size()));
        std::printf("READY\n");
        std::fflush(stdout);
    });
    return app.exec();
}
