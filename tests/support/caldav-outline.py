#!/usr/bin/python3
"""Another program's CalDAV client for the outline tests: python3-caldav reads and makes
subtasks (RELATED-TO) in one calendar.

  caldav-outline.py URL USER PASSWORD list
      one line per task, sorted: SUMMARY<PARENT'S SUMMARY (empty at the top), then the
      RELATED-TO parameter RELTYPE as given (empty when absent)
  caldav-outline.py URL USER PASSWORD add SUMMARY PARENT-SUMMARY
      a new task under the task with that summary (RELATED-TO without RELTYPE, which means
      the parent)
  caldav-outline.py URL USER PASSWORD delete SUMMARY
      deletes the task with that summary, and only it
"""
import sys
import uuid

import caldav


def parent_of(vtodo):
    related = vtodo.get("RELATED-TO")
    if related is None:
        return None, ""
    for one in related if isinstance(related, list) else [related]:
        reltype = one.params.get("RELTYPE", "")
        if reltype in ("", "PARENT"):
            return str(one), reltype
    return None, ""


def main(url, user, password, command, *args):
    client = caldav.DAVClient(url, username=user, password=password)
    calendar = caldav.Calendar(client=client, url=url)
    todos = [todo.icalendar_component for todo in calendar.todos(include_completed=True)]
    summary_of = {str(vtodo.get("UID")): str(vtodo.get("SUMMARY", "")) for vtodo in todos}
    if command == "list":
        lines = []
        for vtodo in todos:
            parent, reltype = parent_of(vtodo)
            lines.append("%s<%s|%s" % (vtodo.get("SUMMARY", ""),
                                       summary_of.get(parent, parent or ""), reltype))
        print("\n".join(sorted(lines)))
    elif command == "add":
        summary, parent_summary = args
        parent = [uid for uid, text in summary_of.items() if text == parent_summary]
        if not parent:
            print("no task " + parent_summary, file=sys.stderr)
            return 1
        calendar.save_todo(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another client//EN\r\n"
            "BEGIN:VTODO\r\nUID:%s\r\nDTSTAMP:20250312T120000Z\r\nSUMMARY:%s\r\n"
            "RELATED-TO:%s\r\nEND:VTODO\r\nEND:VCALENDAR\r\n" % (uuid.uuid4(), summary, parent[0]))
    elif command == "delete":
        for todo in calendar.todos(include_completed=True):
            if str(todo.icalendar_component.get("SUMMARY", "")) == args[0]:
                todo.delete()
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
