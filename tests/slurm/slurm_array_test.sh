#!/usr/bin/env bash
# packaging/slurm/pagesnap-array.sbatch on a real single-node Slurm that this test starts on
# localhost (munged, slurmctld and slurmd with a private key, configuration, ports and folders;
# nothing in /etc is changed) and stops again: a 4-task array gives the pictures of one
# local run, name for name and byte for byte; a task killed while it converts leaves a gap
# that submitting the array again closes, with no temporary file and no process left.
#   slurm_array_test.sh BIN_DIR SBATCH_SCRIPT CORPUS_DIR
# Exit 77 (skipped) where Slurm cannot run here: not root, or slurm-wlm/munge not installed.
set -u
bin=$(realpath "$1") script=$(realpath "$2") corpus=$3
tasks=4

[ "$(id -u)" -eq 0 ] || { echo "SKIP: the Slurm daemons run jobs as their users only when started as root"; exit 77; }
for c in munged slurmctld slurmd sbatch squeue scancel scontrol; do
  command -v "$c" > /dev/null || { echo "SKIP: $c missing (install slurm-wlm and munge: scripts/deps)"; exit 77; }
done
[ -d "$corpus" ] || { echo "SKIP: no corpus at $corpus"; exit 77; }

# munged wants every folder above its socket searchable by all.
T=$(mktemp -d /tmp/folium-slurm-XXXXXX) && chmod 755 "$T" || exit 1
mkdir -p "$T"/{munge,sock,ctld,spool,log,home,cache,run,tmp,docs/copy,submit}
chmod 700 "$T/munge" "$T/run"
export HOME="$T/home" XDG_CACHE_HOME="$T/cache" XDG_CONFIG_HOME="$T/home/.config" XDG_RUNTIME_DIR="$T/run"
export TMPDIR="$T/tmp" SLURM_CONF="$T/slurm.conf" PAGESNAP_BATCH="$bin/pagesnap-batch"
failed=0
fail() { echo "FAIL: $*"; failed=1; }
logs() { for f in "$T"/log/*.log "$T"/munge/munged.log; do [ -f "$f" ] && { echo "== $f"; tail -n 15 "$f"; }; done; }

# The daemons run in the foreground as this script's children, so that whatever ends the test
# (ctest's timeout included) finds them.
daemons=()
stop_all() {
  # Jobs first: slurmstepd outlives slurmd by design.
  if [ ${#daemons[@]} -ge 2 ]; then
    scancel --signal=KILL --quiet "--user=$(id -un)" 2> /dev/null
    for _ in $(seq 100); do [ -z "$(squeue -h -o %i 2> /dev/null)" ] && break; sleep 0.1; done
  fi
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    pid=${daemons[i]}
    kill -TERM "$pid" 2> /dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2> /dev/null && { echo "FAIL: daemon $pid did not stop, killed"; kill -9 "$pid"; failed=1; }
  done
  # Anything the jobs started, or with the test's folders on its command line.
  left=$(pgrep -f "$T"; for e in /proc/[0-9]*/environ; do
           grep -qz '^SLURM_JOB_ID=' "$e" 2> /dev/null && grep -qzF "$T" "$e" 2> /dev/null && basename "${e%/environ}"
         done)
  [ -n "$left" ] && { echo "FAIL: processes left: $(ps -o pid=,args= -p "$(echo $left | tr ' ' ,)")"; kill -9 $left 2> /dev/null; failed=1; }
  rm -rf "$T"
}
trap 'stop_all; echo "result: $failed"; exit $failed' EXIT
trap 'exit 1' INT TERM

# A port nobody listens on.
free_port() {
  local p
  while p=$((20000 + RANDOM % 30000)); (exec 3<> "/dev/tcp/127.0.0.1/$p") 2> /dev/null; do :; done
  echo "$p"
}
ctld_port=$(free_port)
slurmd_port=$(free_port)
while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(free_port); done
cpus=$(nproc)
mem=$(($(awk '/^MemTotal:/ { print $2 }' /proc/meminfo) / 1024 * 9 / 10))

dd if=/dev/urandom of="$T/munge/munge.key" bs=1024 count=1 status=none && chmod 600 "$T/munge/munge.key"
munged -F "--socket=$T/sock/munge.sock" "--key-file=$T/munge/munge.key" "--pid-file=$T/munge/munged.pid" \
  "--log-file=$T/munge/munged.log" "--seed-file=$T/munge/munged.seed" > /dev/null 2>&1 &
daemons+=($!)
for _ in $(seq 100); do [ -S "$T/sock/munge.sock" ] && break; sleep 0.1; done

cat > "$SLURM_CONF" << CONF
ClusterName=folium
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$T/sock/munge.sock
StateSaveLocation=$T/ctld
SlurmdSpoolDir=$T/spool
SlurmctldPidFile=$T/slurmctld.pid
SlurmdPidFile=$T/slurmd.pid
SlurmctldLogFile=$T/log/slurmctld.log
SlurmdLogFile=$T/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
NodeName=folium1 NodeHostname=$(hostname) NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$mem State=UNKNOWN
PartitionName=main Nodes=folium1 Default=YES MaxTime=INFINITE State=UP
CONF
slurmctld -D -f "$SLURM_CONF" > /dev/null 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N folium1 > /dev/null 2>&1 &
daemons+=($!)
for _ in $(seq 300); do [ "$(sinfo -h -n folium1 -o %t 2> /dev/null)" = idle ] && break; sleep 0.1; done
[ "$(sinfo -h -n folium1 -o %t 2> /dev/null)" = idle ] || { echo "FAIL: the node did not come up"; logs; exit 1; }

# Twelve varied documents of 3 to 50 pages (so that a task is still converting after its first
# one); a second testPictures.doc in another folder takes another picture name over the whole
# list, whichever task converts it.
for d in Bug50936_1.doc Bug53380_3.doc FloatingPictures.doc bib-chernigovka.netdo.ru_download_docs_17459.docx \
         ProblemExtracting.doc bug57031.docx drawing.docx ob_is.doc saved-by-table.doc testPictures.doc \
         form_footnotes.docx; do
  echo "$corpus/$d"
done > "$T/list"
cp "$corpus/testPictures.doc" "$T/docs/copy/" && echo "$T/docs/copy/testPictures.doc" >> "$T/list"
opts=(-r 72)

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# Every picture of the local run is in dir with the same bytes, and nothing else is (but the
# lists of finished documents).
same_pictures() {
  local dir=$1 what=$2 f diff=""
  diff=$(comm -3 <(ls -A "$T/local" | grep -v '^\.pagesnap-batch.*\.done$') \
                 <(ls -A "$dir" | grep -v '^\.pagesnap-batch.*\.done$') | sed 's/^\t/  extra: /; s/^[^ ]/  missing: &/')
  [ -n "$diff" ] && fail "$what: names differ from the local run:"$'\n'"$diff"
  for f in $(ls -A "$T/local" | grep -v '^\.'); do
    [ -f "$dir/$f" ] && ! cmp -s "$T/local/$f" "$dir/$f" && fail "$what: $f differs from the local run's"
  done
}
pages_in() { ls -A "$1" | grep -vc '^\.'; }

# The local run to compare with, its engines' profiles made first as the array's tasks find
# them (they share the home folder).
"$bin/pagesnap-batch" -j 2 -o "$T/warm" "$corpus/Word95.doc" "$corpus/Equation.docx" 2> /dev/null
start=$(now)
"$bin/pagesnap-batch" -j 2 "${opts[@]}" --files-from "$T/list" -o "$T/local" 2> "$T/local.err"
status=$?
local_s=$(secs "$start" "$(now)")
[ $status -eq 0 ] || { fail "the local run: exit $status"; cat "$T/local.err"; exit 1; }
pages=$(pages_in "$T/local")

# Submits the array, one core per task, into the folder OUTPUT and waits until its tasks have ended (polling:
# sbatch --wait checks every few seconds only); its job id goes to $T/jobid. Status 0 when
# every task completed with exit status 0.
submit() {
  local job
  job=$(cd "$T/submit" && sbatch --parsable --array=0-$((tasks - 1)) --cpus-per-task=1 -o "$T/log/%A_%a.out" \
          "$script" "$T/list" "$1" "${opts[@]}") || return 1
  echo "$job" > "$T/jobid"
  for _ in $(seq 6000); do [ -z "$(squeue -h -j "$job" -o %i 2> /dev/null)" ] && break; sleep 0.1; done
  scontrol -o show job "$job" > "$T/tasks"
  [ -s "$T/tasks" ] && ! grep -v 'JobState=COMPLETED' "$T/tasks" | grep -q . && ! grep -v 'ExitCode=0:0' "$T/tasks" | grep -q .
}
start=$(now)
submit "$T/out1"
status=$?
array_s=$(secs "$start" "$(now)")
job=$(cat "$T/jobid")
[ $status -eq 0 ] || { fail "the array did not complete"; cat "$T/tasks" "$T"/log/*.out; }
same_pictures "$T/out1" "the array"
# Each document in exactly one task's report.
for k in $(seq 0 $((tasks - 1))); do
  [ -f "$T/submit/pagesnap-$job-$k.json" ] || fail "no report of task $k"
done
twice=$(cat "$T"/submit/pagesnap-"$job"-*.json | grep -o '"path": *"[^"]*"' | sort | uniq -d)
[ -n "$twice" ] && fail "documents in two tasks: $twice"

# Task 0 killed once it has finished a document and not all of its own, then the array again.
rm -f "$T/jobid"
submit "$T/out2" &
waiter=$!
done0="$T/out2/.pagesnap-batch.shard-0-of-$tasks.done"
killed=""
for _ in $(seq 3000); do
  job=$(cat "$T/jobid" 2> /dev/null)
  if [ -n "$job" ] && [ -s "$done0" ] && [ "$(squeue -h -j "${job}_0" -o %t 2> /dev/null)" = R ]; then
    scancel --signal=KILL "${job}_0" && killed=yes
    break
  fi
  kill -0 $waiter 2> /dev/null || break
  sleep 0.1
done
wait $waiter
status=$?
[ -n "$killed" ] || fail "task 0 could not be killed while it converted"
[ $status -ne 0 ] || fail "the array with a killed task completed"
gap=$((pages - $(pages_in "$T/out2")))
[ $gap -gt 0 ] || fail "the killed task left no gap to fill"
finished=$(cat "$T"/out2/.pagesnap-batch*.done | wc -l)
start=$(now)
submit "$T/out2"
status=$?
rerun_s=$(secs "$start" "$(now)")
[ $status -eq 0 ] || { fail "the array again did not complete"; cat "$T/tasks" "$T"/log/*.out; }
job=$(cat "$T/jobid")
converted=$(cat "$T"/submit/pagesnap-"$job"-*.json | grep -c '"status": "converted"')
[ $((finished + converted)) -eq "$(wc -l < "$T/list")" ] ||
  fail "the array again converted $converted documents, $finished of $(wc -l < "$T/list") being finished before"
same_pictures "$T/out2" "the array after a killed task"
# The runs' temporary folders (TMPDIR), the killed task's included, are gone too.
[ -z "$(ls -A "$T/tmp")" ] || fail "left in the temporary folder: $(ls -A "$T/tmp")"

rate() { awk -v p="$pages" -v s="$1" 'BEGIN { printf "%.2f", p / s }'; }
echo "documents $(wc -l < "$T/list"), pages $pages, $cpus cores"
echo "local run, -j 2: $local_s s, $(rate "$local_s") pages/s"
echo "$tasks-task array, 1 core each: $array_s s, $(rate "$array_s") pages/s"
echo "task 0 killed: $gap pages missing; the array submitted again: $rerun_s s, $converted documents converted"
