#include "sync/CalDavClient.h"

#include "sync/DavMultistatus.h"

#include <QSet>

// What changed in a calendar and the resources themselves: the sync and fetch requests.

// --- changes -----------------------------------------------------------------------------------

namespace {

// Hrefs of the members in a listing: calendar objects, not the collection or subcollections.
bool isMemberHref(const QString& href, const QString& collection) {
    return href.startsWith(collection) && href.size() > collection.size() &&
           !href.endsWith(QLatin1Char('/'));
}

} // namespace

void CalDavClient::syncCollection(const QUrl& collection, const QByteArray& syncToken,
                                  Done<SyncPage> done) {
    const QByteArray body = Dav::RequestBody(
        "D:sync-collection", "<D:sync-token>" + Dav::Escaped(QString::fromUtf8(syncToken)) +
                                 "</D:sync-token><D:sync-level>1</D:sync-level>"
                                 "<D:prop><D:getetag/></D:prop>");
    multistatus("REPORT", collection, 0, body, Target::Collection,
                [this, collection, syncToken, done](const Failure& failure, const Answer& answer,
                                                    const Dav::Multistatus& parsed) {
                    SyncPage page;
                    if (failure.kind == Failure::Forbidden || failure.kind == Failure::HttpError) {
                        // A token the server dropped is named by a precondition; any other refusal
                        // of the report means the server has none.
                        const int status = answer.status;
                        if (Dav::ParseErrorConditions(answer.body).contains(Dav::ValidSyncToken))
                            page.invalidToken = true;
                        else if (status == 400 || status == 403 || status == 405 || status == 409 ||
                                 status == 415 || status == 422 || status == 501)
                            page.unsupported = true;
                        if (page.invalidToken || page.unsupported) {
                            done(Failure(), page);
                            return;
                        }
                    }
                    if (failure.kind == Failure::ServerError && answer.status == 501) {
                        page.unsupported = true;
                        done(Failure(), page);
                        return;
                    }
                    if (failure) {
                        done(failure, page);
                        return;
                    }
                    if (parsed.syncToken.isEmpty()) {
                        done(malformed(collection, tr("the sync report gave no sync token")), page);
                        return;
                    }
                    page.syncToken = parsed.syncToken.toUtf8();
                    const QString path = Dav::CollectionPath(collection);
                    for (const Dav::Response& response : parsed.responses) {
                        const QString href = Dav::ResolveHref(collection, response.href);
                        if (Dav::SameCollection(href, path)) {
                            page.truncated = page.truncated || response.status == 507;
                        } else if (!isMemberHref(href, path)) {
                            continue;
                        } else if (response.status >= 400) {
                            page.removed.append(href);
                        } else {
                            page.changed.append({href, response.text(Dav::GetEtag).toUtf8()});
                        }
                    }
                    done(Failure(), page);
                });
}

void CalDavClient::continueSync(const QUrl& collection, const QByteArray& token, SyncPage gathered,
                                int pages, Done<SyncPage> done) {
    syncCollection(
        collection, token,
        [this, collection, token, gathered, pages, done](const Failure& failure,
                                                         const SyncPage& page) {
            if (failure || page.invalidToken || page.unsupported) {
                done(failure, page);
                return;
            }
            // A later page wins over an earlier one for the same member.
            SyncPage all = gathered;
            for (const Member& member : page.changed) {
                all.removed.removeAll(member.href);
                all.changed.removeIf([&](const Member& m) { return m.href == member.href; });
                all.changed.append(member);
            }
            for (const QString& href : page.removed) {
                all.changed.removeIf([&](const Member& m) { return m.href == href; });
                if (!all.removed.contains(href))
                    all.removed.append(href);
            }
            all.syncToken = page.syncToken;
            all.truncated = false;
            if (!page.truncated) {
                done(Failure(), all);
            } else if (page.syncToken == token || pages >= 10000) {
                done(malformed(collection, tr("the sync report does not advance")), SyncPage());
            } else {
                continueSync(collection, page.syncToken, all, pages + 1, done);
            }
        });
}

void CalDavClient::fetchChanges(const QUrl& collection, const Cursor& cursor, Done<Changes> done) {
    // The ctag first, before anything is listed: a change made meanwhile shows as a new ctag
    // next time. An unchanged ctag spares the report, which costs a server more.
    getCtag(collection, [this, collection, cursor, done](const Failure& failure,
                                                         const QByteArray& ctag) {
        if (failure) {
            done(failure, Changes());
        } else if (!ctag.isEmpty() && ctag == cursor.ctag) {
            Changes unchanged;
            unchanged.cursor = cursor;
            done(Failure(), unchanged);
        } else if (!cursor.syncToken.isEmpty()) {
            continueSync(
                collection, cursor.syncToken, SyncPage(), 1,
                [this, collection, ctag, done](const Failure& failed, const SyncPage& page) {
                    // Some servers fail on a token they no longer know instead of
                    // naming it; a full listing tells that from a server that is down.
                    if (page.unsupported || page.invalidToken ||
                        failed.kind == Failure::ServerError || failed.kind == Failure::HttpError) {
                        fetchAll(collection, ctag, done);
                    } else if (failed) {
                        done(failed, Changes());
                    } else {
                        Changes changes;
                        changes.members = page.changed;
                        changes.removed = page.removed;
                        changes.cursor = {page.syncToken, ctag};
                        done(Failure(), changes);
                    }
                });
        } else if (!cursor.ctag.isEmpty()) {
            fetchByEtags(collection, ctag, done); // a server without sync tokens
        } else {
            fetchAll(collection, ctag, done);
        }
    });
}

void CalDavClient::fetchAll(const QUrl& collection, const QByteArray& ctag, Done<Changes> done) {
    continueSync(collection, QByteArray(), SyncPage(), 1,
                 [this, collection, ctag, done](const Failure& failure, const SyncPage& page) {
                     if (failure) {
                         done(failure, Changes());
                     } else if (page.unsupported || page.invalidToken) {
                         fetchByEtags(collection, ctag, done);
                     } else {
                         Changes changes;
                         changes.full = true;
                         changes.members = page.changed;
                         changes.cursor = {page.syncToken, ctag};
                         done(Failure(), changes);
                     }
                 });
}

void CalDavClient::fetchByEtags(const QUrl& collection, const QByteArray& ctag,
                                Done<Changes> done) {
    listEtags(collection, [ctag, done](const Failure& failed, const QList<Member>& members) {
        Changes changes;
        if (!failed) {
            changes.full = true;
            changes.members = members;
            changes.cursor.ctag = ctag;
        }
        done(failed, changes);
    });
}

void CalDavClient::listEtags(const QUrl& collection, Done<QList<Member>> done) {
    propfind(collection, 1, QByteArrayLiteral("<D:resourcetype/><D:getetag/>"), Target::Collection,
             [collection, done](const Failure& failure, const Dav::Multistatus& parsed) {
                 QList<Member> members;
                 const QString path = Dav::CollectionPath(collection);
                 for (const Dav::Response& response : parsed.responses) {
                     const QString href = Dav::ResolveHref(collection, response.href);
                     if (isMemberHref(href, path) &&
                         !response.property(Dav::ResourceType).children.contains(Dav::Collection))
                         members.append({href, response.text(Dav::GetEtag).toUtf8()});
                 }
                 done(failure, failure ? QList<Member>() : members);
             });
}

void CalDavClient::getCtag(const QUrl& collection, Done<QByteArray> done) {
    propfind(collection, 0, QByteArrayLiteral("<CS:getctag/>"), Target::Collection,
             [collection, done](const Failure& failure, const Dav::Multistatus& parsed) {
                 const Dav::Response* self =
                     failure ? nullptr : Dav::SelfResponse(parsed, collection);
                 done(failure, self ? self->text(Dav::GetCtag).toUtf8() : QByteArray());
             });
}

// --- resources ---------------------------------------------------------------------------------

void CalDavClient::multiget(const QUrl& collection, const QStringList& hrefs, Done<Fetched> done) {
    multigetFrom(collection, hrefs, 0, std::make_shared<Fetched>(), std::move(done));
}

void CalDavClient::multigetFrom(const QUrl& collection, const QStringList& hrefs, int from,
                                std::shared_ptr<Fetched> gathered, Done<Fetched> done) {
    if (from >= hrefs.size()) {
        done(Failure(), *gathered);
        return;
    }
    const QStringList batch = hrefs.mid(from, m_multigetBatch);
    QByteArray hrefList;
    for (const QString& href : batch)
        hrefList += "<D:href>" + Dav::Escaped(href) + "</D:href>";
    const QByteArray body = Dav::RequestBody(
        "C:calendar-multiget", "<D:prop><D:getetag/><C:calendar-data/></D:prop>" + hrefList);
    multistatus("REPORT", collection, 1, body, Target::Collection,
                [this, collection, hrefs, from, batch, gathered,
                 done](const Failure& failure, const Answer&, const Dav::Multistatus& parsed) {
                    if (failure) {
                        done(failure, Fetched());
                        return;
                    }
                    QSet<QString> asked(batch.cbegin(), batch.cend());
                    for (const Dav::Response& response : parsed.responses) {
                        const QString href = Dav::ResolveHref(collection, response.href);
                        if (!asked.remove(href))
                            continue; // not one of ours, or listed twice
                        if (response.status >= 400 || !response.has(Dav::CalendarData))
                            gathered->missing.append(href);
                        else
                            gathered->resources.append({href, response.text(Dav::GetEtag).toUtf8(),
                                                        response.text(Dav::CalendarData).toUtf8()});
                    }
                    for (const QString& href : batch)
                        if (asked.contains(href))
                            gathered->missing.append(href);
                    multigetFrom(collection, hrefs, from + int(batch.size()), gathered, done);
                });
}

namespace {

QUrl resourceUrl(const QUrl& collection, const QString& href) {
    QUrl url = collection;
    url.setPath(href, QUrl::StrictMode);
    return url;
}

} // namespace

void CalDavClient::get(const QUrl& collection, const QString& href, Done<Resource> done) {
    const QUrl url = resourceUrl(collection, href);
    send("GET", url, QByteArray(), {}, Target::Resource,
         [this, url, href, done](const Failure& failure, const Answer& answer) {
             if (failure)
                 done(failure, Resource());
             else if (answer.status != 200)
                 done(statusFailure(url, answer, Target::Resource), Resource());
             else
                 done(Failure(), Resource{href, answer.etag, answer.body});
         });
}

void CalDavClient::put(const QUrl& collection, const QString& href, const QByteArray& data,
                       const QByteArray& etag, Done<QByteArray> done) {
    const QUrl url = resourceUrl(collection, href);
    Headers headers = {{"Content-Type", "text/calendar; charset=utf-8"}};
    if (etag.isEmpty())
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    else
        headers.append(qMakePair(QByteArray("If-Match"), etag));
    send("PUT", url, data, headers, Target::Resource,
         [this, url, done](const Failure& failure, const Answer& answer) {
             if (failure)
                 done(failure, QByteArray());
             else if (answer.status < 200 || answer.status >= 300)
                 done(statusFailure(url, answer, Target::Resource), QByteArray());
             // A weak ETag does not name these bytes: the next pull fetches the resource.
             else
                 done(Failure(), answer.etag.startsWith("W/") ? QByteArray() : answer.etag);
         });
}

void CalDavClient::remove(const QUrl& collection, const QString& href, const QByteArray& etag,
                          Finished done) {
    const QUrl url = resourceUrl(collection, href);
    Headers headers;
    if (!etag.isEmpty())
        headers.append(qMakePair(QByteArray("If-Match"), etag));
    send("DELETE", url, QByteArray(), headers, Target::Resource,
         [this, url, done](const Failure& failure, const Answer& answer) {
             if (failure.kind == Failure::NotFound)
                 done(Failure());
             else if (failure)
                 done(failure);
             else if (answer.status < 200 || answer.status >= 300)
                 done(statusFailure(url, answer, Target::Resource));
             else
                 done(Failure());
         });
}
