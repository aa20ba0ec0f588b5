#!/bin/sh
# Starts the program from its own folder, where it keeps SYSINI and DATA.
exec /opt/orvandel/orvandel "$@"
