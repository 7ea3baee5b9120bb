#!/usr/bin/env bash
# Writes the seed knowledge bases of knowledgebase_fuzz with the sqlite3 command: small files
# (512-byte pages) with the program's schema, each showing one kind of damage the program must
# survive. Run it again after changing it; the files it writes are kept in the repository.
set -euo pipefail
out="$(dirname "$0")/corpus/knowledgebase_fuzz"
mkdir -p "$out"

schema="PRAGMA page_size=512;
create table textdata (ID varchar(40) not null,created datetime, credited varchar(255),texttype char(1) not null, description text, primary key (ID,texttype));
create table vectors  (ID varchar(40) not null,texttype char(1) not null, vectordata text, primary key (ID,texttype));
create table settings (ID varchar(40) not null,value varchar(40) not null);"
crlf="char(13,10)"
entry() {  # entry ID problem problem-vector solution solution-vector
  echo "insert into textdata values ('$1','1/2/2026 10:00:00',NULL,'P','$2');
insert into textdata values ('$1','1/2/2026 10:00:01',NULL,'S','$4');
insert into vectors values ('$1','P',$3);
insert into vectors values ('$1','S',$5);"
}
make() {  # make name sql
  rm -f "$out/$1"
  sqlite3 "$out/$1" "$schema $2 VACUUM;"
}

make healthy "insert into settings values ('FONTSIZE','10');
$(entry 6f9619ff8b86d011b42d00c04fc964ff 'printer jams on envelopes' "'printer=1'||$crlf||'jam=1'||$crlf||'on=1'||$crlf||'envelop=1'||$crlf" 'use the manual feed' "'us=1'||$crlf||'the=1'||$crlf||'manual=1'||$crlf||'feed=1'||$crlf")
$(entry 0123456789abcdef0123456789abcdef 'network printer offline' "'network=1'||$crlf||'printer=1'||$crlf||'offlin=1'||$crlf" 'it''s the spooler' "'it=1'||$crlf||'s=1'||$crlf||'the=1'||$crlf||'spooler=1'||$crlf")"

make damaged-rows "insert into settings values ('FONTSIZE','12');
$(entry aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 'printer broken' "'printer=oops'||$crlf||'broken=1'||$crlf" 'x' "'=5'||$crlf||'x'||$crlf")
insert into vectors values ('orphan','P','printer=1'||$crlf);
insert into textdata values ('bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb','',NULL,'P',cast(x'7072696e746572006a616d73' as text));
insert into vectors values ('bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb','P','printer=2147483648'||char(13)||'jam=1'||char(10)||char(0)||'x=1');"

make no-fontsize "$(entry cccccccccccccccccccccccccccccccc 'printer jams' "'printer=1'||$crlf||'jam=1'||$crlf" 'clean' "'clean=1'||$crlf")"

make bad-fontsize "insert into settings values ('FONTSIZE','abc');
$(entry dddddddddddddddddddddddddddddddd 'printer jams' "'printer=1'||$crlf||'jam=1'||$crlf" '' "''")"

make settings-only "insert into settings values ('FONTSIZE','10');
drop table textdata; drop table vectors;"
