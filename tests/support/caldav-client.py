#!/usr/bin/python3
"""Another program's CalDAV client, for the sync tests: python3-caldav lists, edits and adds the
tasks of one calendar.

  caldav-client.py URL USER PASSWORD list
      one line per task, sorted: SUMMARY|PRIORITY|DESCRIPTION|X-OTHER-CLIENT
  caldav-client.py URL USER PASSWORD set SUMMARY PROPERTY VALUE
      the task with that summary gets the property's new value
  caldav-client.py URL USER PASSWORD add SUMMARY PRIORITY
      a new task, with an X-OTHER-CLIENT property of this client's own
  caldav-client.py URL USER PASSWORD complete SUMMARY MODE
      the repeating task with that summary completed as python3-caldav does it (MODE "safe" or
      "thisandfuture")
  caldav-client.py URL USER PASSWORD show SUMMARY
      one line per object holding that summary: its to-dos, then of the first one
      DUE (day)|STATUS|COMPLETED set|PERCENT-COMPLETE|RRULE
"""
import sys
import uuid

import caldav


def main(url, user, password, command, *args):
    client = caldav.DAVClient(url, username=user, password=password)
    calendar = caldav.Calendar(client=client, url=url)
    todos = calendar.todos(include_completed=True)
    if command == "list":
        lines = []
        for todo in todos:
            vtodo = todo.icalendar_component
            lines.append("|".join(str(vtodo.get(name, "")) for name in
                                  ("SUMMARY", "PRIORITY", "DESCRIPTION", "X-OTHER-CLIENT")))
        print("\n".join(sorted(lines)))
    elif command == "set":
        summary, prop, value = args
        for todo in todos:
            vtodo = todo.icalendar_component
            if str(vtodo.get("SUMMARY", "")) == summary:
                if prop in vtodo:
                    del vtodo[prop]
                vtodo.add(prop, int(value) if prop == "PRIORITY" else value)
                todo.save()
                return 0
        print("no task " + summary, file=sys.stderr)
        return 1
    elif command == "complete":
        summary, mode = args
        for todo in todos:
            vtodo = todo.icalendar_component
            if str(vtodo.get("SUMMARY", "")) == summary and "RRULE" in vtodo:
                todo.complete(handle_rrule=True, rrule_mode=mode)
                return 0
        print("no task " + summary, file=sys.stderr)
        return 1
    elif command == "show":
        lines = []
        for todo in todos:
            vtodos = [c for c in todo.icalendar_instance.subcomponents if c.name == "VTODO"]
            first = vtodos[0]
            if str(first.get("SUMMARY", "")) != args[0]:
                continue
            due = first.get("DUE")
            rule = first.get("RRULE")
            lines.append("%d %s|%s|%s|%s|%s" % (
                len(vtodos), due.dt.strftime("%Y-%m-%d") if due else "",
                first.get("STATUS", ""), "COMPLETED" in first,
                first.get("PERCENT-COMPLETE", ""), rule.to_ical().decode() if rule else ""))
        print("\n".join(sorted(lines)))
    elif command == "add":
        summary, priority = args
        calendar.save_todo(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Another client//EN\r\n"
            "BEGIN:VTODO\r\nUID:%s\r\nDTSTAMP:20250312T120000Z\r\nSUMMARY:%s\r\n"
            "PRIORITY:%s\r\nX-OTHER-CLIENT:kept\r\nEND:VTODO\r\nEND:VCALENDAR\r\n"
            % (uuid.uuid4(), summary, priority))
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
