#!/bin/sh
# Starts a web server for the end-to-end tests on free ports of 127.0.0.1 and
# returns once it listens; it stops by itself after ten minutes, so that a
# test that dies cannot leave it running.
#
#   test_server.sh nginx WORK ROOT   nginx serving ROOT over HTTP; with TLS
#                                    certificates (make_certs) in WORK/certs
#                                    also over HTTPS (see WORK/ports), where
#                                    /to-http/PATH redirects to http://.../PATH
#   test_server.sh faults WORK ROOT  fault_server.py serving ROOT
#   test_server.sh stop WORK         stops the server started in WORK
#   test_server.sh certs WORK        makes the certificates in WORK/certs
#
# WORK/ports gets "NAME PORT" lines once the server listens; WORK/failed says
# why it did not start. Paths are Unix paths: a Windows test program under
# Wine starts this script as a Unix program.
set -u
here=$(cd "$(dirname "$0")" && pwd)
mode=$1
mkdir -p "$2" && work=$(cd "$2" && pwd) || exit 1

free_ports() {
  python3 -c '
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))' "$1"
}

listening() {
  python3 -c '
import socket, sys
s = socket.socket(); s.settimeout(1)
sys.exit(s.connect_ex(("127.0.0.1", int(sys.argv[1]))))' "$1"
}

make_cert() {  # NAME HOST CA: a server certificate for HOST signed by CA
  openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$1.key" -out "$1.csr" 2>/dev/null &&
  printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$2" > "$1.ext" &&
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 30 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
}

case "$mode" in
certs)
  certs=$work/certs
  mkdir -p "$certs" && cd "$certs" || exit 1
  for ca in ca other-ca; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=filedist test $ca" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
      -keyout $ca.key -out $ca.pem 2>/dev/null || exit 1
  done
  make_cert good localhost ca && make_cert wronghost other.invalid ca &&
  make_cert otherca localhost other-ca || exit 1
  touch done
  ;;
nginx)
  root=$(cd "$3" && pwd) || exit 1
  mkdir -p "$work/nginx-temp" || exit 1
  tls=no
  [ -f "$work/certs/good.pem" ] && tls=yes
  for attempt in 1 2 3 4 5; do
    set -- $(free_ports 4)
    user=""
    # Run as root, nginx would hand its workers to nobody, who cannot read
    # the test's scratch files.
    [ "$(id -u)" = 0 ] && user="user $(id -un) $(id -gn);"
    {
      echo "$user worker_processes 1; pid $work/nginx.pid; error_log $work/nginx-error.log;"
      echo "events { worker_connections 512; }"
      echo "http { access_log $work/nginx-access.log; default_type application/octet-stream;"
      for temp in client_body proxy fastcgi uwsgi scgi; do
        echo "  ${temp}_temp_path $work/nginx-temp/$temp;"
      done
      echo "  sendfile on; keepalive_requests 100000;"
      echo "  server { listen 127.0.0.1:$1; root $root; }"
      if [ $tls = yes ]; then
        for name in good:$2 wronghost:$3 otherca:$4; do
          echo "  server { listen 127.0.0.1:${name#*:} ssl http2; root $root;"
          echo "    ssl_certificate $work/certs/${name%%:*}.pem;"
          echo "    ssl_certificate_key $work/certs/${name%%:*}.key;"
          # A secure address that sends the client on to a plain one.
          echo "    location ~ ^/to-http/(.*)\$ { return 302 http://127.0.0.1:$1/\$1; } }"
        done
      fi
      echo "}"
    } > "$work/nginx.conf"
    rm -f "$work/nginx.pid"
    setsid timeout 600 nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf" \
      -g 'daemon off;' > "$work/nginx.out" 2>&1 < /dev/null &
    for wait in $(seq 50); do
      if listening "$1"; then
        echo "http $1" > "$work/ports.tmp"
        if [ $tls = yes ]; then
          printf 'https %s\nwronghost %s\notherca %s\n' "$2" "$3" "$4" >> "$work/ports.tmp"
        fi
        mv "$work/ports.tmp" "$work/ports"
        exit 0
      fi
      kill -0 $! 2>/dev/null || break
      sleep 0.1
    done
    kill $! 2>/dev/null
  done
  cat "$work/nginx-error.log" "$work/nginx.out" > "$work/failed" 2>&1
  exit 1
  ;;
faults)
  root=$(cd "$3" && pwd) || exit 1
  set -- $(free_ports 1)
  setsid timeout 600 python3 -u "$here/fault_server.py" "$1" "$root" "$work/faults.log" \
    > "$work/faults.out" 2>&1 < /dev/null &
  echo $! > "$work/faults.pid"
  for wait in $(seq 50); do
    if listening "$1"; then
      echo "http $1" > "$work/ports.tmp" && mv "$work/ports.tmp" "$work/ports"
      exit 0
    fi
    sleep 0.1
  done
  cat "$work/faults.out" > "$work/failed"
  exit 1
  ;;
stop)
  for pidfile in "$work/nginx.pid" "$work/faults.pid"; do
    [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null
  done
  exit 0
  ;;
esac
