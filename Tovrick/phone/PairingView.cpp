#include "Tovrick/phone/PairingView.h"

#include <QDateTime>
#include <QPointer>

#include "shared/account/TovrickAccount.h"
#include "shared/util/Log.h"
#include "shared/util/UserFacingError.h"

namespace {

QString describe(const std::exception_ptr& failure)
{
    return describeError(failure, QStringLiteral("Something went wrong with your Tovrick account. Please try again."));
}

} // namespace

PairingView::PairingView(TovrickAccount& account, std::function<PairingRecord()> record, QObject* parent)
    : QObject(parent), m_account(account), m_record(std::move(record)), m_wasSignedIn(account.isSignedIn())
{
    nowMs = [] { return static_cast<double>(QDateTime::currentMSecsSinceEpoch()); };
    m_pollTimer.setSingleShot(true);
    m_linkTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { pollOnce(m_generation); });
    connect(&m_linkTimer, &QTimer::timeout, this, &PairingView::hideLinkCode);
    connect(&m_account, &TovrickAccount::sessionChanged, this, &PairingView::accountChanged);
}

PairingView::~PairingView() = default;

bool PairingView::signedIn() const
{
    return m_account.isSignedIn();
}

QString PairingView::accountCode() const
{
    return m_ticket ? m_ticket->accountCodeText() : QString();
}

QString PairingView::expiry() const
{
    if (!m_ticket)
        return {};
    const QTime at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(m_ticket->expiresAt)).toLocalTime().time();
    return QStringLiteral("Expires at %1").arg(at.toString(QStringLiteral("HH:mm")));
}

void PairingView::opened()
{
    m_open = true;
    if (signedIn())
        showLinkCode();
    else
        begin();
}

void PairingView::closed()
{
    m_open = false;
    stop();
    hideLinkCode();
}

void PairingView::retry()
{
    if (m_open && !signedIn())
        begin();
}

bool PairingView::current(quint64 generation) const
{
    return generation == m_generation && m_open && !signedIn();
}

void PairingView::stop()
{
    ++m_generation;
    m_pollTimer.stop();
    m_starting = false;
    m_ticket.reset();
    emit changed();
}

void PairingView::begin()
{
    stop();
    m_message.clear();
    startCode(m_generation);
}

QCoro::Task<> PairingView::startCode(quint64 generation)
{
    QPointer<PairingView> self(this);
    m_starting = true;
    emit changed();
    std::optional<PairingTicket> ticket;
    QString failure;
    try {
        auto asking = m_account.startPairing();
        const PairingTicket got = co_await asking;
        ticket = got;
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self || !current(generation))
        co_return;
    m_starting = false;
    m_ticket = ticket;
    m_message = failure;
    if (m_ticket) {
        logline::info(QStringLiteral("showing a code to add this computer"));
        m_pollTimer.start(m_timing.pollInterval);
    }
    emit changed();
}

QCoro::Task<> PairingView::pollOnce(quint64 generation)
{
    if (!current(generation) || !m_ticket)
        co_return;
    if (nowMs() >= m_ticket->expiresAt) {
        begin();
        co_return;
    }
    QPointer<PairingView> self(this);
    const PairingTicket ticket = *m_ticket;
    std::optional<PairingPoll> answer;
    QString failure;
    try {
        auto asking = m_account.pollPairing(ticket);
        const PairingPoll got = co_await asking;
        answer = got;
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self || !current(generation))
        co_return;
    // A failed poll is shown but the code stays: the next one may well go through.
    m_message = failure;
    if (!answer || answer->status == PairingPoll::Status::pending) {
        m_pollTimer.start(m_timing.pollInterval);
        emit changed();
        co_return;
    }
    if (answer->status == PairingPoll::Status::expired) {
        begin();
        co_return;
    }
    logline::info(QStringLiteral("the phone added this computer"));
    // Signing in moves the generation on and shows the phone-link code.
    m_account.adoptSession(*answer->session);
}

void PairingView::accountChanged()
{
    const bool now = signedIn();
    if (now == m_wasSignedIn)
        return;
    m_wasSignedIn = now;
    if (now) {
        stop();
        m_message.clear();
        if (m_open)
            showLinkCode();
    } else {
        hideLinkCode();
        if (m_open)
            begin();
    }
    emit changed();
}

void PairingView::showLinkCode()
{
    if (!m_open || !signedIn())
        return;
    const PairingRecord record = m_record ? m_record() : PairingRecord();
    if (record.key()) {
        m_linkCode = record.scanText();
        m_linkProblem.clear();
        m_linkTimer.start(m_timing.linkCodeShown);
    } else {
        m_linkCode.clear();
        m_linkProblem = QStringLiteral("Tovrick couldn\u2019t read the key of the phone link, so there is no code to show.");
    }
    emit changed();
}

void PairingView::hideLinkCode()
{
    m_linkTimer.stop();
    if (m_linkCode.isEmpty() && m_linkProblem.isEmpty())
        return;
    // Overwritten rather than just dropped: the key should not linger in this object.
    m_linkCode.fill(QLatin1Char(' '));
    m_linkCode.clear();
    m_linkProblem.clear();
    emit changed();
}
