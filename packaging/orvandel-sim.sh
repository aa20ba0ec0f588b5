#!/bin/sh
exec /opt/orvandel/orvandel-sim "$@"
