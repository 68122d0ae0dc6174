// The texts the query builder writes.
#include "query_dlg.h"

namespace {

void AppendPiece(QString& q, const QString& piece) {
    if (!q.isEmpty()) q += QStringLiteral(" and ");
    q += piece;
}

QString DateCall(const QueryOptions& o) {
    return QStringLiteral("Date(%1,%2,%3)").arg(o.day).arg(o.month).arg(o.year);
}

QString CategoryPiece(const QString& op, const QString& category) {
    return QStringLiteral("Categories %1 \"%2\"").arg(op, category);
}

}  // namespace

QString ComposeQuery(const QueryOptions& o) {
    QString q;
    if (o.newer) q = QStringLiteral("CreationTime > ") + DateCall(o);
    if (o.modified) AppendPiece(q, QStringLiteral("LastModificationTime > ") + DateCall(o));
    if (o.older) {
        const QString days = o.days.isEmpty() ? QStringLiteral("0") : o.days;
        AppendPiece(q, QStringLiteral("CreationTime < DaysFromNow(%1)").arg(days));
    }
    if (o.createdBy) AppendPiece(q, QStringLiteral("SenderName = \"%1\"").arg(o.creator));
    // ':' matches a part of the subject without regard to case.
    if (o.subject) AppendPiece(q, QStringLiteral("Subject : \"%1\"").arg(o.subjectText));
    if (o.withCategory || o.withoutCategory) {
        QString op;
        if (o.withCategory) op = QStringLiteral("=");
        if (o.withoutCategory) op = QStringLiteral("<>");
        if (o.category.contains(QLatin1Char(';'))) {
            QString group;
            for (const QString& token : o.category.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                AppendPiece(group, CategoryPiece(op, token));
            }
            if (!q.isEmpty()) q += QStringLiteral(" and ");
            q += QLatin1Char('(') + group + QLatin1Char(')');
        } else {
            AppendPiece(q, CategoryPiece(op, o.category));
        }
    }
    if (!o.savedCall.isEmpty()) AppendPiece(q, o.savedCall);
    return q;
}
