-- syslog.db of an instrument folder as an old installation left it (no version table).
create table syslog(
	id integer primary key,
	time datetime,
	level integer,
	source text,
	message text);
insert into syslog values(1, '2024-03-04 07:30:02', 0, 'system', 'instrument started');
insert into syslog values(2, '2024-03-04 07:31:15', 0, 'temperature', 'incubation block at 37.0 C');
insert into syslog values(3, '2024-03-04 08:10:44', 1, 'reagent', 'Buffer below alarm limit');
insert into syslog values(4, '2024-03-04 17:02:09', 0, 'system', 'instrument shut down');
