#!/bin/bash
# One batch over several machines with GNU parallel: one shard per machine,
# each machine running quirnel-copy with its own profile and home, all of
# them reading the batch file and writing FILE.d/ on storage they share.
#
#   parallel.sh /shared/mailboxes.txt 3 alpha,bravo,charlie
#   parallel.sh /shared/mailboxes.txt 3 :              # all on this machine
#
# Started again with the same arguments, it runs only the shards that did
# not end with exit 0 (--resume-failed over its job log); inside a shard the
# lines completed before are skipped, so nothing is copied twice.
set -u
batch=${1:?usage: parallel.sh BATCH-FILE SHARDS HOSTS}
shards=${2:?number of shards}
hosts=${3:?comma-separated hosts, ":" for this machine}
copy=${QUIRNEL_COPY:-quirnel-copy}
jobs=${QUIRNEL_JOBS:-1}

# -j1 per host: the shard itself runs --jobs copies at a time.
parallel --sshlogin "$hosts" -j1 --line-buffer --tag \
    --joblog "$batch.parallel-log" --resume-failed \
    "$copy" --batch "$batch" --shard {}/"$shards" --jobs "$jobs" \
    ::: $(seq 0 $((shards - 1)))
status=$?  # the number of shards that failed
"$copy" --batch-report "$batch"
report=$?  # 0 only when every line of the batch completed
exit $((status ? status : report))
