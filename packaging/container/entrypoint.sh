#!/bin/sh
# The image's entry point, started by tini: "pagesnap-serve ARGS" runs the HTTP service,
# "pagesnap-batch ARGS" or ARGS alone (the image's default: /in) the command-line converter.
# exec: the program is tini's child, which hands it the signals and returns its exit status.
case $1 in
  pagesnap-serve | pagesnap-batch)
    program=/usr/bin/$1
    shift
    [ -x "$program" ] || { echo "pagesnap-entrypoint: this image has no $program" >&2; exit 127; }
    exec "$program" "$@" ;;
esac
exec /usr/bin/pagesnap-batch "$@"
