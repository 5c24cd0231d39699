-- qc.db of an instrument folder: quality-control materials and their results.
create table qcMaterial(
	id integer primary key,
	name text,
	lot text,
	item text,
	target real,
	sd real,
	expiry date);
insert into qcMaterial values(1, 'Control N', 'N2311', 'PT', 12.1, 0.4, '2024-06-30');
insert into qcMaterial values(2, 'Control P', 'P2311', 'PT', 24.8, 0.9, '2024-06-30');
insert into qcMaterial values(3, 'Control N', 'N2311', 'APTT', 30.2, 1.1, '2024-06-30');

create table qcResult(
	id integer primary key,
	materialId integer references qcMaterial,
	date date,
	time time,
	result real,
	operator text);
create index qcResult_index on qcResult(materialId, date);
insert into qcResult values(1, 1, '2024-03-04', '07:41:10', 12.3, 'wuyan');
insert into qcResult values(2, 2, '2024-03-04', '07:44:52', 25.1, 'wuyan');
insert into qcResult values(3, 3, '2024-03-04', '07:49:03', 29.7, 'wuyan');
insert into qcResult values(4, 1, '2024-03-05', '07:38:27', 11.9, 'wuyan');
