-- data.db of an instrument folder as an old installation left it (no version table):
-- patients, exams, results, clot curves and the six lookup tables of the application, whose ids
-- have gaps where entries were deleted and whose abbreviations are still compared with case.
create table patient(
	id integer primary key,
	sampleNo integer,
	date date,
	name text,
	sex integer,
	age integer,
	department integer,
	doctor integer,
	diagnosis integer,
	treatmentRoom integer,
	operator integer);
create table exam(
	id integer primary key,
	sampleNo integer,
	date date,
	item text,
	state integer);
create table patientExtra(
	patientId integer references patient,
	name text,
	value);
create table result(
	id integer primary key,
	patientId integer references patient,
	item text,
	subitem text,
	abbr text,
	code text,
	result real,
	unit text,
	flag integer,
	displayOrder integer,
	lowerMarkLimit real,
	upperMarkLimit real);
create index result_index on result(patientId, item, subitem);
create table curve(
	id integer primary key,
	patientId integer references patient,
	item text,
	curve blob);
create trigger on_delete_patient after delete on patient
begin
	delete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;
	delete from result where old.id = result.patientId;
	delete from patientExtra where old.id = patientExtra.patientId;
	delete from curve where old.id = curve.patientId;
end;

create table department(id integer primary key, abbr text, name text);
create table sex(id integer primary key, abbr text, name text);
create table treatmentRoom(id integer primary key, abbr text, name text);
create table diagnosis(id integer primary key, abbr text, name text);
create table doctor(id integer primary key, abbr text, name text);
create table operator(id integer primary key, abbr text, name text);

insert into department values(1, 'ICU', 'Intensive care');
insert into department values(2, 'CARD', 'Cardiology');
insert into department values(3, 'OBS', 'Obstetrics');
insert into department values(7, 'lab', 'Laboratory');
insert into sex values(1, 'M', 'male');
insert into sex values(2, 'F', 'female');
insert into treatmentRoom values(1, 'W3', 'Ward 3');
insert into treatmentRoom values(2, 'OP', 'Outpatients');
insert into diagnosis values(1, 'AF', 'Atrial fibrillation, on warfarin');
insert into diagnosis values(2, 'PRE', 'Pre-operative screening');
insert into doctor values(1, 'ZH', 'Dr. Zhang Hua');
insert into doctor values(2, 'LM', 'Dr. Li Min');
insert into doctor values(6, 'zq', 'Dr. Zhou Qing');
insert into operator values(1, 'WY', 'Wu Yan');
insert into operator values(4, 'sq', 'Sun Qiang');

insert into patient values(1, 1, '2024-03-04', 'Chen Jie', 1, 67, 2, 1, 1, 1, 1);
insert into patient values(2, 2, '2024-03-04', 'Liu Fang', 2, 34, 3, 2, 2, 2, 1);
insert into patient values(3, 1, '2024-03-05', 'Zhao Lei', 1, 52, 1, 1, 2, 1, 1);

insert into exam values(1, 1, '2024-03-04', 'PT', 2);
insert into exam values(2, 1, '2024-03-04', 'APTT', 2);
insert into exam values(3, 2, '2024-03-04', 'PT', 2);
insert into exam values(4, 1, '2024-03-05', 'PT', 1);

insert into patientExtra values(1, 'bed', '12');
insert into patientExtra values(2, 'bed', '4');

insert into result values(1, 1, 'PT', 'PT.T', 'T', 'Prothrombin time', 24.6, 's', 1, 1, 11.0, 14.0);
insert into result values(2, 1, 'PT', 'PT.INR', 'INR', 'International normalised ratio', 2.31, '', 1, 2, 0.8, 1.2);
insert into result values(3, 1, 'APTT', 'APTT.T', 'T', 'Activated partial thromboplastin time', 31.8, 's', 0, 3, 25.0, 35.0);
insert into result values(4, 2, 'PT', 'PT.T', 'T', 'Prothrombin time', 12.4, 's', 0, 1, 11.0, 14.0);
insert into result values(5, 2, 'PT', 'PT.INR', 'INR', 'International normalised ratio', 1.02, '', 0, 2, 0.8, 1.2);
-- the PT of patient 1 measured again: both rows are kept, the later one counts
insert into result values(6, 1, 'PT', 'PT.T', 'T', 'Prothrombin time', 24.9, 's', 1, 1, 11.0, 14.0);

-- clot curves: light intensity sampled every 0.5 s (the second one in two segments)
insert into curve values(1, 1, 'PT', x'000000000000000100000000000000003fe000000000000000000028409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fe00000000000409fdf999999999a409fdf3333333333409fdecccccccccd409fdd999999999a409fdb999999999a409fd7999999999a409fd06666666666409fc33333333333409fab3333333333409f7f3333333333409f326666666666409eb20000000000409dec0000000000409cde0000000000409ba46666666666409a766666666666409983999999999a4098db3333333333409871999999999a4098340000000000409811999999999a4097fe66666666664097f400000000004097ee6666666666');
insert into curve values(2, 1, 'APTT', x'000000000000000200000000000000003fe00000000000000000001e409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000402e0000000000003ff000000000000000000019409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f040000000000409f03999999999a409f02cccccccccd409f000000000000409ef6cccccccccd409ed66666666666409e6f3333333333409d606666666666409b973333333333409a086666666666409949999999999a40990800000000004098f400000000004098ee66666666664098eccccccccccd4098ec0000000000');
insert into curve values(3, 2, 'PT', x'000000000000000100000000000000003fe000000000000000000028409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f680000000000409f67999999999a409f67999999999a409f66cccccccccd409f660000000000409f646666666666409f613333333333409f5b3333333333409f506666666666409f3c6666666666409f186666666666409ed93333333333409e6f3333333333409dcc6666666666409ced999999999a409beb999999999a409af2cccccccccd409a2b33333333334099a06666666666409949999999999a409916cccccccccd4098fa00000000004098ea66666666664098e200000000004098dd33333333334098dacccccccccd4098d9999999999a4098d8cccccccccd4098d866666666664098d86666666666');
